#include "app/token_file.h"

#include <QFileDevice>
#include <QSaveFile>
#include <filesystem>
#include <fstream>
#include <system_error>

std::string get_saved_token() {
    std::ifstream file(token_file_name);
    std::string line;
    if (!std::getline(file, line))
        return {};
    // A token file edited on Windows and read elsewhere keeps its CR.
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

bool save_token(const std::string& token) {
    // Written beside the old file and renamed over it, so a failed or
    // interrupted save never leaves the player without the token saved before.
    QSaveFile file(QString::fromUtf8(token_file_name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    // The token is a secret: only its owner may read it.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const auto size = static_cast<qint64>(token.size());
    if (file.write(token.data(), size) != size) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool entry_exists(const char* path) {
    std::error_code error;
    return std::filesystem::exists(path, error) && !error;
}
