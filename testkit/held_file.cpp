#include "testkit/held_file.h"

#include <fstream>
#include <system_error>
#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

#ifdef _WIN32

held_file::held_file(const fs::path& path, sharing others) : path_(path) {
    const DWORD shared = others == sharing::none ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, shared, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        why_not_ = "cannot open the file to hold it (error " + std::to_string(GetLastError()) + ")";
    else
        handle_ = handle;
}

held_file::~held_file() {
    if (handle_)
        CloseHandle(handle_);
}

#else

held_file::held_file(const fs::path& path, sharing others) : path_(path) {
    if (others != sharing::none) {
        why_not_ = "no file is held against being replaced here";
        return;
    }
    fs::permissions(path, fs::perms::none);
    if (std::ifstream(path)) {
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
        why_not_ = "root opens any file here, whatever its permissions";
    }
}

held_file::~held_file() {
    std::error_code ignored;
    if (holds())
        fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write, ignored);
}

#endif
