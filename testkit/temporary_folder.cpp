#include "testkit/temporary_folder.h"

#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

temporary_folder::temporary_folder() {
    const fs::path base = fs::temp_directory_path();
    std::random_device random;
    // Suites run side by side: a name another one took is passed over, as
    // making the folder is what claims the name.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("zarvik-test-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate;
            return;
        }
        std::error_code ignored;
        if (error && !fs::exists(candidate, ignored))
            throw std::runtime_error("cannot make a folder in " + base.string() + ": " +
                                     error.message());
    }
    throw std::runtime_error("no free name for a folder in " + base.string());
}

temporary_folder::~temporary_folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}
