#include "app/scan.h"

#include "app/fingerprint.h"
#include "replay/common.h"
#include "replay/th10replaydecoder.h"
#include "ui/message_box.h"
#include "ui/texts.h"
#include "upload/path_text.h"
#include "upload/send.h"

#include <QString>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Names the file in double quotes, with backslashes and quotes escaped. The
// UTF-8 form, because Windows' narrow form throws for a name outside the
// code page, and a replay name may well be Japanese; a name with no UTF-8
// form is still named, with U+FFFD where it has none, and the scan goes on.
void report_problem(const char* what, const fs::path& path) {
    std::cerr << "Error: " << what << ' ' << std::quoted(utf8_path(path)) << '\n';
}

// The whole file, or nothing when it cannot be opened or read. A file larger
// than any real replay is left unread and reported as malformed.
bool read_replay(const fs::path& path, std::vector<unsigned char>& bytes) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        report_problem("Could not open file", path);
        return false;
    }
    const std::streamoff size = file.tellg();
    if (size < 0) {
        report_problem("Could not open file", path);
        return false;
    }
    if (static_cast<std::uintmax_t>(size) > replay::th10_size_cap) {
        report_problem("Malformed replay file", path);
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), size)) {
        report_problem("Could not open file", path);
        return false;
    }
    return true;
}

void report_replay(const fs::path& path, const std::string& token, th10replay& record) {
    std::vector<unsigned char> bytes;
    if (!read_replay(path, bytes))
        return;
    record.replay_hash = sha256_file(path);
    if (record.replay_hash.empty()) {
        report_problem("Could not open file", path);
        return;
    }
    // A damaged file is never reported: its summary would be made up.
    if (!replay::th10decode(bytes.data(), bytes.size(), record)) {
        report_problem("Malformed replay file", path);
        return;
    }
    record.date = replay::getReplayDate(path);
    send_to_api(token, record);
}

bool is_replay_file(const fs::directory_entry& entry) {
    // An entry whose type cannot be determined is passed over like any
    // other entry that is not a replay.
    std::error_code error;
    return entry.is_regular_file(error) && !error && entry.path().extension() == ".rpy";
}

} // namespace

int run_tracker(const std::string& token) {
    const fs::path folder = "../replay";
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) {
        // "../replay" passed the start-up check but cannot be listed: a plain
        // file by that name, or a folder the player may not read.
        show_error(QString::fromUtf8(texts::no_replay_folder));
        return 0;
    }
    th10replay record;
    // A listing that fails part-way ends the scan; what was sent stays sent.
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        if (is_replay_file(*entries))
            report_replay(entries->path(), token, record);
    }
    return 0;
}
