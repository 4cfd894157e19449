#pragma once
// Writes replay files for tests, the benchmark, the fuzz corpus and the demo:
// the inverse of the reader's two unscrambling passes, an LZSS encoder whose
// output the reader's decompressor turns back into exactly its input, and a
// builder that lays out a whole file from the summary fields. Never shipped.

#include "replay/th10replaydecoder.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace replay_writer {

// The inverse of decode() with the same parameters: scramble(...) followed by
// decode(...) gives back the original bytes. Bytes that decode leaves alone
// (a dropped remainder, an odd length's last byte) are left alone here too.
void scramble(unsigned char* buffer, std::int32_t length, std::int32_t block_size,
              std::uint8_t mask, std::uint8_t step);

// The inverse of both passes over a replay body, applied in reverse order.
void scramble_body(unsigned char* buffer, std::int32_t length);

// A bit stream that decompress() turns into exactly `size` bytes equal to
// `data`. A greedy matcher over a hash chain; a match is only used after
// checking that the decoder's window, read at the unmasked indices the copy
// will use, really yields the wanted bytes. The stream is padded so that its
// last item does not end on the final input bit (which would be dropped).
std::vector<unsigned char> compress(const unsigned char* data, std::size_t size);
inline std::vector<unsigned char> compress(const std::vector<unsigned char>& data) {
    return compress(data.data(), data.size());
}

// One stage record of the decompressed body.
struct Stage {
    std::uint32_t stored_score = 0;  // score before this stage, divided by 10
    std::uint32_t extra_length = 64; // E: length of the variable part
};

// The summary fields and shape of one replay.
struct ReplayPlan {
    // Player name bytes; at most 8 are stored, padded with NUL. May hold any
    // byte, NUL included.
    std::string player = "PLAYER";
    std::uint8_t character = 0;
    std::uint8_t ctype = 0;
    std::uint8_t rank = 0;
    std::uint8_t clear = 0;
    // The stage count byte at 0x4C, written as given (7 and above are legal
    // in the file; the summary uses at most 6).
    std::uint8_t stage_count = 1;
    std::uint32_t final_score = 0; // stored at 0x10, divided by 10
    // The stage records written, in order. A consistent replay has at least
    // min(stage_count, 6) of them.
    std::vector<Stage> stages{Stage{}};
    // Text after "Date " in the trailing text block; the summary reads the 14
    // bytes that follow the marker.
    std::string date = "08/09/14 18:32";
    bool with_date = true;
    // Further body bytes after the stage records (recorded play that the
    // summary does not read), to make larger bodies.
    std::size_t extra_body_bytes = 0;
    // Seed for the filler bytes of the body.
    std::uint32_t seed = 1;
};

// The decompressed body: fixed fields, stage records, extra bytes. Filler
// bytes look like recorded input (long runs with occasional changes), so the
// body compresses roughly as real ones do.
std::vector<unsigned char> build_body(const ReplayPlan& plan);

// The trailing text block with the date in its last 200 bytes (or without a
// date marker when with_date is false). At least 200 bytes long.
std::string build_trailer(const ReplayPlan& plan);

// A whole file around any body: a 0x24-byte header (L at 0x1C, D at 0x20,
// D = body.size()), the compressed and scrambled body, then `trailer`.
std::vector<unsigned char> pack_replay(const std::vector<unsigned char>& body,
                                       const std::string& trailer);

// pack_replay(build_body(plan), build_trailer(plan)).
std::vector<unsigned char> build_replay(const ReplayPlan& plan);

// The summary a correct reader extracts from build_replay(plan), worked out
// from the plan's fields by the format's rules (stage count capped at 6,
// record i's score to entry i - 1, the final score to entry S - 1, scores
// times 10 modulo 2^32, name up to the first NUL, the 14 bytes after "Date ").
// `replay_hash` stays empty. Needs a consistent plan (see `stages`).
th10replay expected_summary(const ReplayPlan& plan);

// A varied, realistic plan derived from `seed` (name, character, stage count,
// scores, date, body size around `body_bytes`).
ReplayPlan sample_plan(std::uint32_t seed, std::size_t body_bytes = 0x4000);

// Stores `value` at `offset` of `bytes` in four bytes, least significant
// first, as the format keeps its numbers.
void store_u32(std::vector<unsigned char>& bytes, std::size_t offset, std::uint32_t value);

// Writes `bytes` to `path`; false when the file cannot be written.
bool write_file(const std::string& path, const std::vector<unsigned char>& bytes);

} // namespace replay_writer
