#pragma once
// The player's personal token, kept in "token.txt" in the working directory.

#include <string>

// The first line of "token.txt": the bytes before the first line feed, less a
// carriage return right before it. Empty when the file yields nothing.
std::string get_saved_token();

// Replaces "token.txt" with exactly the token's bytes (no line break). Returns
// false when the file could not be written; the token saved before is then
// left as it was.
bool save_token(const std::string& token);

// Whether an entry exists at `path`. An existence test that cannot be carried
// out (permission denied, say) counts as no entry.
bool entry_exists(const char* path);

inline constexpr const char* token_file_name = "token.txt";
