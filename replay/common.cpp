// Replay bodies are compressed with an LZSS variant whose window has a few
// quirks, then scrambled in blocks. Notes on each corner of the format sit next
// to the code that handles it. Input bytes are fetched only in get_bit, each
// behind a check against the input's length; output writes are checked
// against the caller's capacity and window reads against the window, so no
// input can make the reader step outside a buffer.

#include "replay/common.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <vector>

namespace replay {

void decode(unsigned char* buffer, std::int32_t length, std::int32_t block_size, std::uint8_t mask,
            std::uint8_t step) {
    // A block size below 1 has no meaning (and would divide by zero); a
    // negative length names no bytes at all.
    if (block_size < 1 || length <= 0) {
        return;
    }

    // The game only scrambles whole blocks, plus a final partial block when
    // the remainder is at least a quarter of a block. On top of that an odd
    // length always leaves one more byte out, even when that shortens a full
    // block: 9 bytes in blocks of 8 become a single block of 7 bytes.
    std::int32_t left = length;
    if (left % block_size < block_size / 4) {
        left -= left % block_size;
    }
    left -= length & 1;
    if (left <= 0) {
        return;
    }

    // Reads come from a copy because a block's bytes are written back in a
    // different order. Only the processed bytes are needed; the rest of the
    // region keeps its stored value.
    const std::vector<unsigned char> copy(buffer, buffer + left);

    // Within a block the stored bytes fill the odd distances from the block's
    // end first (last, third from last, ...) and then the even ones (second
    // from last, ...). The mask runs on across blocks and is never reset.
    std::int32_t p = 0;
    while (left > 0) {
        const std::int32_t start = p;
        if (left < block_size) {
            block_size = left;
        }
        for (std::int32_t i = 0; i < (block_size + 1) / 2; ++i) {
            buffer[start + block_size - 1 - 2 * i] = copy[p] ^ mask;
            mask = static_cast<std::uint8_t>(mask + step);
            ++p;
        }
        for (std::int32_t i = 0; i < block_size / 2; ++i) {
            buffer[start + block_size - 2 - 2 * i] = copy[p] ^ mask;
            mask = static_cast<std::uint8_t>(mask + step);
            ++p;
        }
        left -= block_size;
    }
}

namespace {

// Input bytes near the end of the input are fetched here. The reader looks
// one byte ahead (see get_bit), and a 13-bit field may start on the last bit
// of the input, so it can ask for up to two bytes past the end. Those bits never reach the output
// because the decompressor's end test drops the read that took them; reading
// them as 0 keeps the behaviour and stays inside the buffer.
inline std::uint32_t input_byte(const unsigned char* buffer, std::uint32_t length,
                                std::uint32_t position) {
    return position < length ? buffer[position] : 0u;
}

// Output byte k is kept at window index k AND 0x1FFF, yet copies read the
// window at unmasked indices, up to 0x1FFE + 17 = 0x200F. The 16 bytes past
// 0x1FFF are never written and so read as 0.
constexpr std::uint32_t window_mask = 0x1FFF;
constexpr std::uint32_t window_size = 0x2010;

} // namespace

std::uint32_t get_bit(const unsigned char* buffer, std::uint32_t length, std::uint32_t& position,
                      std::uint8_t& bit_mask, std::uint8_t count) {
    std::uint32_t result = 0;
    std::uint32_t byte = input_byte(buffer, length, position);
    for (std::uint8_t i = 0; i < count; ++i) {
        result = (result << 1) | ((byte & bit_mask) != 0 ? 1u : 0u);
        // The reader moves on as soon as a byte is used up, even when no
        // further bit is wanted, so the position always names the byte
        // holding the next unread bit. The decompressor's end test depends
        // on this.
        bit_mask = static_cast<std::uint8_t>(bit_mask >> 1);
        if (bit_mask == 0) {
            ++position;
            byte = input_byte(buffer, length, position);
            bit_mask = 0x80;
        }
    }
    return result;
}

std::uint32_t decompress(const unsigned char* input, unsigned char* output, std::uint32_t length,
                         std::uint32_t output_capacity) {
    std::array<unsigned char, window_size> window{};
    std::uint32_t position = 0;
    std::uint8_t bit_mask = 0x80;
    std::uint32_t written = 0;

    // Every read is followed by the end test, so an item whose last bit is the
    // last bit of the input is dropped, and a read that ran past the input
    // (taking zeros) ends the stream before its bits are used.
    while (position < length) {
        const std::uint32_t flag = get_bit(input, length, position, bit_mask, 1);
        if (position >= length) {
            break;
        }
        if (flag != 0) {
            const std::uint32_t value = get_bit(input, length, position, bit_mask, 8);
            if (position >= length) {
                break;
            }
            // The output holds only what its owner sized it for (the size the
            // replay header declares). Whatever the stream describes beyond
            // that has nowhere to go, so decompression ends there.
            if (written >= output_capacity) {
                break;
            }
            output[written] = static_cast<unsigned char>(value);
            window[written & window_mask] = static_cast<unsigned char>(value);
            ++written;
            continue;
        }

        const std::uint32_t field = get_bit(input, length, position, bit_mask, 13);
        if (position >= length) {
            break;
        }
        const std::uint32_t count = get_bit(input, length, position, bit_mask, 4) + 3;
        if (position >= length) {
            break;
        }
        // The field is an absolute window index plus one, not a distance
        // back. Field 0 gives index 0xFFFFFFFF, which lies outside the window
        // and reads as 0; the unsigned index then wraps, so the rest of that
        // copy reads indices 0, 1, ...
        const std::uint32_t source = field - 1;
        // One byte at a time: a copy may read bytes it has just produced,
        // which is how runs are encoded.
        for (std::uint32_t j = 0; j < count; ++j) {
            if (written >= output_capacity) {
                return written;
            }
            const std::uint32_t index = source + j;
            const unsigned char value = index < window_size ? window[index] : 0;
            window[written & window_mask] = value;
            output[written] = value;
            ++written;
        }
    }
    return written;
}

std::string getReplayDate(const std::filesystem::path& path) {
    constexpr std::size_t tail_size = 200;
    constexpr char marker[] = "Date ";
    constexpr std::size_t marker_size = sizeof marker - 1;
    constexpr std::size_t date_size = 14;

    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return {};
    }

    // The date sits in a text block at the end of the file. A file shorter
    // than the block leaves the buffer all NUL, which holds no marker.
    std::array<char, tail_size> tail{};
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size >= static_cast<std::streamoff>(tail_size)) {
        file.seekg(size - static_cast<std::streamoff>(tail_size), std::ios::beg);
        file.read(tail.data(), static_cast<std::streamsize>(tail_size));
    }

    // The whole tail is searched, NUL bytes included, and the date is taken
    // as it stands: the caller sends these bytes on unchanged. No marker means
    // no date, which is sent as an empty string rather than as bytes picked
    // from some other part of the file.
    for (std::size_t at = 0; at + marker_size <= tail_size; ++at) {
        if (std::memcmp(tail.data() + at, marker, marker_size) == 0) {
            const std::size_t from = at + marker_size;
            const std::size_t taken = std::min(date_size, tail_size - from);
            return std::string(tail.data() + from, taken);
        }
    }
    return {};
}

} // namespace replay
