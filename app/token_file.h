#pragma once
// The player's personal token, kept in "token.txt" in the working directory.

#include <string>

// The first line of "token.txt": the bytes before the first line feed, less a
// carriage return right before it. Empty when the file yields nothing.
std::string get_saved_token();

// Replaces "token.txt" with exactly the token's bytes (no line break), by a
// rename where the folder allows and in place where only the file is
// writable. Returns false when the file could not be written.
bool save_token(const std::string& token);

inline constexpr const char* token_file_name = "token.txt";
