#pragma once
// The replay scan: every replay in the game's replay folder is fingerprinted,
// summarised and reported to the score service.

#include <string>

// Reports every ".rpy" file in "../replay" with `token`. Returns 0.
int run_tracker(const std::string& token);
