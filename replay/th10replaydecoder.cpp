// The replay header gives two sizes: L, the scrambled and compressed body
// that follows the header, and D, the body's decompressed size. The summary
// sits at fixed offsets of the decompressed body, apart from the stage scores,
// which are found by walking a chain of variable-length stage records.
//
// A player's replay folder can hold anything: half-written files, renamed
// files, other games' replays. Every size and offset taken from the file is
// checked before it is used, and a file that breaks a limit is reported as
// malformed so that nothing read from garbage is ever sent.

#include "replay/th10replaydecoder.h"

#include "replay/common.h"

#include <algorithm>
#include <iostream>
#include <vector>

namespace replay {

namespace {

// Offsets in the header, and its size: the body follows it.
constexpr std::size_t header_size = 0x24;
constexpr std::size_t body_length_offset = 0x1C;
constexpr std::size_t body_size_offset = 0x20;

// The stored body is scrambled twice over the same bytes, each time in blocks
// of its own size under a mask that starts at its own value and grows by its
// own step per byte. The later scrambling is undone first.
constexpr std::int32_t first_pass_block_size = 0x400;
constexpr std::uint8_t first_pass_mask = 0xAA;
constexpr std::uint8_t first_pass_step = 0xE1;
constexpr std::int32_t second_pass_block_size = 0x80;
constexpr std::uint8_t second_pass_mask = 0x3D;
constexpr std::uint8_t second_pass_step = 0x7A;

// Offsets in the decompressed body.
constexpr std::size_t player_offset = 0x00;
constexpr std::size_t player_size = 8;
constexpr std::size_t final_score_offset = 0x10;
constexpr std::size_t stage_count_offset = 0x4C;
constexpr std::size_t character_offset = 0x50;
constexpr std::size_t ctype_offset = 0x54;
constexpr std::size_t rank_offset = 0x58;
constexpr std::size_t clear_offset = 0x5C;
// The fixed fields end before 0x60; a body shorter than that cannot hold a
// summary, whatever its stage count says.
constexpr std::size_t fixed_fields_end = 0x60;
constexpr std::size_t first_stage_offset = 0x64;

// Offsets in a stage record, and the size of its fixed part.
constexpr std::size_t stage_extra_length_offset = 0x08;
constexpr std::size_t stage_score_offset = 0x0C;
constexpr std::size_t stage_fixed_size = 0x1C4;

std::uint32_t load_u32(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

// Every read of the stage chain goes through here, as its offsets come from
// the file. `available` is what the decompression actually wrote, which can
// be less than D: bytes past it were never produced by the file, so a read
// there is a malformed file, not a zero. Offsets are 64-bit so that a stage
// walk cannot wrap around to a small value. The fixed fields are read
// directly, once `available` is known to reach past all of them.
bool read_u32(const std::vector<unsigned char>& body, std::uint64_t available, std::uint64_t offset,
              std::uint32_t& value) {
    if (offset > available || available - offset < 4) {
        return false;
    }
    value = load_u32(body.data() + offset);
    return true;
}

} // namespace

bool th10decode(unsigned char* bytes, std::size_t size, th10replay& record) {
    if (bytes == nullptr || size < header_size) {
        return false;
    }
    const std::uint32_t body_length = load_u32(bytes + body_length_offset);
    const std::uint32_t body_size = load_u32(bytes + body_size_offset);
    if (body_length > size - header_size) {
        return false;
    }
    // The cap bounds the allocation below and keeps the body length within
    // the signed 32-bit range the unscrambler counts in.
    if (body_length > th10_size_cap || body_size > th10_size_cap) {
        return false;
    }
    if (body_size < fixed_fields_end) {
        return false;
    }

    // D is only the header's claim, and a few bytes of body must not cost up
    // to the cap in memory. No item yields more output bytes than it has input
    // bits (a 9-bit literal gives 1 byte, an 18-bit copy at most 18), so L
    // bytes can never fill more than 8 * L; one copy's worth on top is slack.
    // Nothing past that bound is ever written, so no result depends on it.
    const std::uint64_t reachable = 8 * std::uint64_t{body_length} + 18;
    const std::uint32_t output_capacity =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(body_size, reachable));
    // Zeroed so that no byte of the buffer is ever left uninitialised, though
    // the checks below never let the summary come from a byte that the
    // decompression did not write.
    std::vector<unsigned char> body(output_capacity, 0);
    unsigned char* const stored = bytes + header_size;
    decode(stored, static_cast<std::int32_t>(body_length), first_pass_block_size, first_pass_mask,
           first_pass_step);
    decode(stored, static_cast<std::int32_t>(body_length), second_pass_block_size, second_pass_mask,
           second_pass_step);
    // A stream that describes more than D bytes is cut at D: the summary lies
    // at the front of the body, and the header's D is what the game itself
    // would have allocated.
    const std::uint64_t available = decompress(stored, body.data(), body_length, output_capacity);
    // Printed once decompression has run, whatever the checks below decide; a
    // file turned away before decompressing prints nothing.
    std::cout << "Decompression done." << std::flush;

    if (available < fixed_fields_end) {
        return false;
    }

    const std::size_t stages = std::min<std::size_t>(body[stage_count_offset], th10_stage_scores);

    // Stage record i holds the score reached before stage i, so it goes to
    // entry i - 1; the last stage played has no following record and takes
    // the final score instead.
    std::uint32_t working[th10_stage_scores] = {};
    std::uint64_t stage = first_stage_offset;
    for (std::size_t i = 1; i < stages; ++i) {
        std::uint32_t extra_length = 0;
        if (!read_u32(body, available, stage + stage_extra_length_offset, extra_length)) {
            return false;
        }
        stage += extra_length + stage_fixed_size;
        if (!read_u32(body, available, stage + stage_score_offset, working[i - 1])) {
            return false;
        }
    }
    if (stages >= 1) {
        working[stages - 1] = load_u32(body.data() + final_score_offset);
    }

    // Everything is known to be sound now; only at this point is the record
    // touched, so a malformed file leaves it as it was.
    record.character = body[character_offset];
    record.ctype = body[ctype_offset];
    record.rank = body[rank_offset];
    record.clear = body[clear_offset];
    // Scores are stored divided by 10. The tenfold is taken in wrapping 32-bit
    // arithmetic, as the score service has always received it.
    for (std::size_t k = 0; k < th10_stage_scores; ++k) {
        record.score[k] = working[k] * 10u;
    }
    std::size_t name_length = 0;
    while (name_length < player_size && body[player_offset + name_length] != 0) {
        ++name_length;
    }
    record.player.assign(reinterpret_cast<const char*>(body.data() + player_offset), name_length);
    return true;
}

} // namespace replay
