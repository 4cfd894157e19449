#pragma once
// Helpers for checking which fields of a summary record a call touched.

#include "replay/th10replaydecoder.h"

#include <algorithm>

// A record whose every field differs from anything a built replay holds.
inline th10replay marked_record() {
    th10replay record;
    record.character = record.ctype = record.rank = record.clear = 0xEE;
    std::fill(record.score, record.score + 6, 0xDEADBEEFu);
    record.player = "before";
    record.date = "keep date";
    record.replay_hash = "keep hash";
    return record;
}

inline bool same_record(const th10replay& a, const th10replay& b) {
    return a.character == b.character && a.ctype == b.ctype && a.rank == b.rank &&
           a.clear == b.clear && std::equal(a.score, a.score + 6, b.score) &&
           a.player == b.player && a.date == b.date && a.replay_hash == b.replay_hash;
}
