#pragma once
// A file held open as another program holds it, until the object goes. On
// Windows the holder decides what others may do with the file meanwhile.
// Linux holds no file against others: there a file that nobody may open is
// one without permissions, which root opens all the same.

#include <filesystem>
#include <string>

class held_file {
  public:
    enum class sharing {
        // Nobody else may open the file at all.
        none,
        // Others may read and write it, but not delete or replace it.
        read_and_write,
    };

    held_file(const std::filesystem::path& path, sharing others);
    ~held_file();
    held_file(const held_file&) = delete;
    held_file& operator=(const held_file&) = delete;

    // Whether the file is held as asked; why_not() says why not.
    bool holds() const { return why_not_.empty(); }
    const std::string& why_not() const { return why_not_; }

  private:
    std::filesystem::path path_;
    void* handle_ = nullptr; // Windows' HANDLE
    std::string why_not_;
};
