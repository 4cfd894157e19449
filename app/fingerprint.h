#pragma once
// The fingerprint that names a replay file to the score service.

#include <filesystem>
#include <string>

// SHA-256 of the file at `path` as 64 lowercase hexadecimal digits; empty when
// the file cannot be opened or read to its end.
std::string sha256_file(const std::filesystem::path& path);
