#include "upload/executable_directory.h"

#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

std::filesystem::path executable_directory() {
#ifdef _WIN32
    // The longest path Windows can hand out; on the heap, as it is 64 KiB.
    std::wstring buffer(0x8000, L'\0');
    const auto capacity = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, &buffer[0], capacity);
    // A length equal to the capacity means the path was cut short.
    if (length == 0 || length == capacity)
        throw std::runtime_error("Could not determine executable path!");
    buffer.resize(length);
    return std::filesystem::path(buffer).parent_path();
#else
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || program.empty())
        throw std::runtime_error("Could not determine executable path!");
    return program.parent_path();
#endif
}
