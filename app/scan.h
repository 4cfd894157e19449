#pragma once
// The replay scan: every replay in the game's replay folder is fingerprinted,
// summarised and reported to the score service.

#include <filesystem>
#include <string>

// Reports every ".rpy" file in "../replay" with `token`. Returns 0.
int run_tracker(const std::string& token);

// SHA-256 of the file at `path` as 64 lowercase hexadecimal digits; empty when
// the file cannot be opened or read to its end.
std::string sha256_file(const std::filesystem::path& path);
