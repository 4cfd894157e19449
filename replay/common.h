#pragma once
// The game's replay body format: block unscrambling, an MSB-first bit reader,
// an LZSS decompressor, and the date text at the end of the file.

#include <cstdint>
#include <filesystem>
#include <string>

namespace replay {

// Unscrambles `length` bytes at `buffer` in place. Does nothing when
// block_size < 1 or length < 1.
void decode(unsigned char* buffer, std::int32_t length, std::int32_t block_size, std::uint8_t mask,
            std::uint8_t step);

// Takes `count` bits (at most 32) from `buffer`, most significant first,
// advancing `position` and `bit_mask`. Bytes at or past `length` read as 0.
std::uint32_t get_bit(const unsigned char* buffer, std::uint32_t length, std::uint32_t& position,
                      std::uint8_t& bit_mask, std::uint8_t count);

// Decompresses `length` bytes of `input` into `output`, writing at most
// `output_capacity` bytes; returns how many bytes were written. A stream that
// describes more than the capacity is cut there. A copy whose source field is
// 0 yields 0 for its first byte and reads window indices 0, 1, ... after it.
std::uint32_t decompress(const unsigned char* input, unsigned char* output, std::uint32_t length,
                         std::uint32_t output_capacity);

// The 14 bytes after the first "Date " in the last 200 bytes of the file at
// `path`; empty when the file cannot be read or holds no "Date " there.
std::string getReplayDate(const std::filesystem::path& path);

} // namespace replay
