#pragma once
// Where the running program lies, and with it the files that ship beside it.

#include <filesystem>

// The folder holding the running executable. Throws std::runtime_error
// ("Could not determine executable path!") when its path cannot be obtained.
std::filesystem::path executable_directory();
