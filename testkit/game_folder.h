#pragma once
// A throw-away game installation: a game folder with "replay" and
// "th10.exe", and the tool's own folder below it as the working directory.

#include "testkit/temporary_folder.h"

#include <filesystem>
#include <string>

// Makes `link` a symbolic link to `target`; empty when it could, or else the
// reason, for a test that needs one to skip with (MinGW-w64's C++ library
// makes no links on Windows).
std::string cannot_link(const std::filesystem::path& target, const std::filesystem::path& link);

class GameFolder {
  public:
    // Makes the folders and enters the tool's folder; the working directory
    // is restored when the object goes.
    GameFolder();
    ~GameFolder();
    GameFolder(const GameFolder&) = delete;
    GameFolder& operator=(const GameFolder&) = delete;

    std::filesystem::path game() const { return game_; }
    std::filesystem::path replays() const { return game_ / "replay"; }
    std::filesystem::path tool() const { return game_ / "zarvik"; }

    void write_file(const std::filesystem::path& path, const std::string& bytes) const;
    std::string read_file(const std::filesystem::path& path) const;

  private:
    temporary_folder root_;
    std::filesystem::path game_;
    std::filesystem::path previous_directory_;
};
