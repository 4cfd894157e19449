#include "testkit/game_folder.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

GameFolder::GameFolder() : game_(root_.path() / "game") {
    std::filesystem::create_directories(game_ / "replay");
    std::filesystem::create_directories(game_ / "zarvik");
    write_file(game_ / "th10.exe", "MZ");
    previous_directory_ = std::filesystem::current_path();
    std::filesystem::current_path(game_ / "zarvik");
}

GameFolder::~GameFolder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_directory_, ignored);
}

void GameFolder::write_file(const std::filesystem::path& path, const std::string& bytes) const {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path.string());
}

std::string GameFolder::read_file(const std::filesystem::path& path) const {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string cannot_link(const std::filesystem::path& target, const std::filesystem::path& link) {
    std::error_code error;
    std::filesystem::create_symlink(target, link, error);
    return error ? "symbolic links cannot be made here: " + error.message() : std::string();
}
