#include "app/token_file.h"

#include <QFile>
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

namespace {

// The token's bytes, for its owner's eyes only: it is a secret.
bool write_token(QFileDevice& file, const std::string& token) {
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const auto size = static_cast<qint64>(token.size());
    return file.write(token.data(), size) == size && file.flush();
}

// The file is not truncated first, and is cut to the new length only once the
// new token is wholly written: a write that fails part-way (a full disk, a
// quota, a drive gone) would otherwise leave part of a token, which loads
// without complaint and makes every upload fail. On failure the old bytes
// are written back.
bool rewrite_in_place(QFile& file, const std::string& token) {
    const QByteArray old = file.readAll();
    if (file.error() != QFileDevice::NoError || !file.seek(0))
        return false;
    file.setTextModeEnabled(true);
    const bool written = write_token(file, token);
    file.setTextModeEnabled(false);
    if (written && file.resize(file.pos()))
        return true;
    if (file.seek(0) && file.write(old) == old.size() && file.flush())
        file.resize(old.size());
    return false;
}

} // namespace

bool save_token(const std::string& token) {
    const QString name = QString::fromUtf8(token_file_name);
    // Written beside the old file and renamed over it, so a failed or
    // interrupted save never leaves the player without the token saved before.
    QSaveFile file(name);
    if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        if (write_token(file, token))
            return file.commit();
        file.cancelWriting();
        return false;
    }
    // A folder that takes no new file (read-only or immutable) may still hold
    // a writable token.txt: it is rewritten in place, not atomically, but
    // saved. Qt's own fallback covers only some of those refusals.
    // Unbuffered, so that what a failed write left unwritten is not written
    // later over the restored bytes.
    QFile in_place(name);
    return in_place.open(QIODevice::ReadWrite | QIODevice::Unbuffered) &&
           rewrite_in_place(in_place, token);
}

bool entry_exists(const char* path) {
    std::error_code error;
    return std::filesystem::exists(path, error) && !error;
}
