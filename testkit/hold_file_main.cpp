// hold_file FILE STOP_FILE: holds FILE open without sharing, as another
// program may, until STOP_FILE exists (for at most 120 seconds), and writes
// "held" to standard output once it holds it. A Windows program of its own,
// for the Wine test: the packaged program meets a replay that it cannot open.

#include "testkit/held_file.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: hold_file FILE STOP_FILE\n");
        return 2;
    }
    const held_file held(argv[1], held_file::sharing::none);
    if (!held.holds()) {
        std::fprintf(stderr, "hold_file: %s\n", held.why_not().c_str());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    const std::filesystem::path stop(argv[2]);
    std::error_code unknown;
    for (int waited = 0; waited < 1200 && !std::filesystem::exists(stop, unknown); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}
