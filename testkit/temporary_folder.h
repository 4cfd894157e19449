#pragma once
// A fresh, empty folder below the system's temporary folder, removed with
// everything in it when the object goes: also when a failed assertion ends
// the test early.

#include <filesystem>

class temporary_folder {
  public:
    // Throws std::runtime_error when no folder can be made.
    temporary_folder();
    ~temporary_folder();
    temporary_folder(const temporary_folder&) = delete;
    temporary_folder& operator=(const temporary_folder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};
