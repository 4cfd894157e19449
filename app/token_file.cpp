#include "app/token_file.h"

#include <QFile>
#include <QFileDevice>
#include <QSaveFile>
#include <fstream>

#ifdef _WIN32
#include <aclapi.h>
#include <io.h>
#include <memory>
#include <vector>
#include <windows.h>
#endif

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

#ifdef _WIN32
using win32_handle = std::unique_ptr<void, decltype(&CloseHandle)>;

// The SID of the account this program runs as, in `storage`.
PSID current_user(std::vector<unsigned char>& storage) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    const win32_handle owned_token(token, &CloseHandle);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    storage.resize(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, storage.data(), size, &size))
        return nullptr;
    return reinterpret_cast<TOKEN_USER*>(storage.data())->User.Sid;
}

// A new file takes its folder's access list, and a game folder below
// C:\Games lets every local account read it. So the open file gets a list of
// its own before the token is written: the player and SYSTEM (which backs
// files up) have full control, nobody else has any, and nothing is
// inherited from the folder. A new token.txt is open unshared until it is
// renamed into place, which keeps the list.
bool keep_from_other_accounts(QFileDevice& file) {
    const auto open_file = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    if (open_file == INVALID_HANDLE_VALUE)
        return false;
    // Qt opens the file without the right to change its list. A second
    // handle asks for that right and the right to read the list alone,
    // which sharing does not restrict.
    const HANDLE reopened = ReOpenFile(open_file, WRITE_DAC | READ_CONTROL,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    if (reopened == INVALID_HANDLE_VALUE)
        return false;
    const win32_handle list_writer(reopened, &CloseHandle);
    std::vector<unsigned char> user_storage;
    const PSID user = current_user(user_storage);
    unsigned char system[SECURITY_MAX_SID_SIZE];
    DWORD system_size = sizeof system;
    if (!user || !CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &system_size))
        return false;
    const DWORD list_size =
        sizeof(ACL) + 2 * sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user) + GetLengthSid(system);
    std::vector<unsigned char> list_storage(list_size);
    const auto list = reinterpret_cast<ACL*>(list_storage.data());
    return InitializeAcl(list, list_size, ACL_REVISION) &&
           AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, user) &&
           AddAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, system) &&
           SetSecurityInfo(list_writer.get(), SE_FILE_OBJECT,
                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                           nullptr, list, nullptr) == ERROR_SUCCESS;
}
#endif

// The token's bytes, for its owner's eyes only: it is a secret.
bool write_token(QFileDevice& file, const std::string& token) {
    [[maybe_unused]] const bool owner_only =
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#ifdef _WIN32
    // Read-only and the like are all that setPermissions sets on Windows.
    if (!keep_from_other_accounts(file))
        return false;
#else
    // A file whose mode stays as it was (on a FAT or NTFS drive, say) may be
    // readable by every account.
    if (!owner_only)
        return false;
#endif
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
