#pragma once
// The summary that the tool reports for one replay, and its extraction from
// a replay file held in memory.

#include <cstddef>
#include <cstdint>
#include <string>

// A summary holds one score for each of the game's six stages.
constexpr std::size_t th10_stage_scores = 6;

struct th10replay {
    std::uint8_t character = 0;
    std::uint8_t ctype = 0;
    std::uint8_t rank = 0;
    std::uint8_t clear = 0;
    std::uint32_t score[th10_stage_scores] = {};
    std::string player;
    std::string date;
    std::string replay_hash;
};

namespace replay {

// Real replays are far smaller than this (well under a few MiB). A body length
// L or a declared decompressed size D above it is taken as damaged or hostile
// before anything is allocated for it.
constexpr std::uint32_t th10_size_cap = 64u * 1024u * 1024u;

// Unscrambles the body of the replay file `bytes` in place, decompresses it
// and fills every field of `record` but `date` and `replay_hash`. Returns
// false, leaving `record` unchanged, when the file is malformed: too short for
// its header, a body or declared size that does not fit, or a summary that
// would be read from bytes the decompression did not produce. Prints
// "Decompression done." (no line break) once the body has been decompressed,
// even when a later check then finds the file malformed.
bool th10decode(unsigned char* bytes, std::size_t size, th10replay& record);

} // namespace replay
