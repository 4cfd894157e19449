#pragma once
// A throw-away game installation: a game folder with "replay" and
// "th10.exe", and the tool's own folder below it as the working directory.

#include <QTemporaryDir>
#include <filesystem>
#include <string>

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
    QTemporaryDir root_;
    std::filesystem::path game_;
    std::filesystem::path previous_directory_;
};
