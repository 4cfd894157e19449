// Holds a file open without sharing, as another program may, until told to
// stop: hold_file FILE STOP_FILE. Writes "held" to standard output once the
// file is open, then waits until STOP_FILE exists, for at most 120 seconds.
// A test helper for the Windows build only.

#include <cstdio>
#include <windows.h>

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: hold_file FILE STOP_FILE\n");
        return 2;
    }
    const HANDLE file = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold_file: cannot open the file (error %lu)\n", GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    for (int waited = 0; waited < 1200; ++waited) {
        if (GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES)
            break;
        Sleep(100);
    }
    CloseHandle(file);
    return 0;
}
