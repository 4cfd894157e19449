// Reads back the access list of a file the program saved (token.txt):
// access_list_test FILE. It must be protected (nothing inherited from the
// folder) and allow full control to exactly the current user and SYSTEM, in
// that order, and nothing to anyone else. A test for the Windows build only,
// run under Wine; prints one line per check and exits non-zero on any failure.

#include <windows.h>

#include <aclapi.h>
#include <cstdio>
#include <sddl.h>
#include <string>
#include <vector>

namespace {

std::string sid_text(PSID sid) {
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text))
        return "?";
    std::string copy = text;
    LocalFree(text);
    return copy;
}

int failed = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
    failed += ok ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: access_list_test FILE\n");
        return 2;
    }
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = GetNamedSecurityInfoW(argv[1], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                             nullptr, nullptr, &list, nullptr, &descriptor);
    if (read != ERROR_SUCCESS || !list) {
        std::printf("FAIL: GetNamedSecurityInfoW returned %lu, access list %s\n", read,
                    list ? "present" : "absent");
        return 1;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    check(GetSecurityDescriptorControl(descriptor, &control, &revision) &&
              (control & SE_DACL_PROTECTED) != 0,
          "the access list is protected from the folder's");

    HANDLE process_token = nullptr;
    DWORD size = 0;
    std::vector<unsigned char> user(256);
    const bool have_user = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process_token) &&
                           GetTokenInformation(process_token, TokenUser, user.data(),
                                               static_cast<DWORD>(user.size()), &size);
    if (process_token)
        CloseHandle(process_token);
    unsigned char system[SECURITY_MAX_SID_SIZE];
    DWORD system_size = sizeof system;
    if (!have_user || !CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &system_size)) {
        std::printf("FAIL: cannot name the current user or SYSTEM\n");
        return 1;
    }
    const PSID expected[] = {reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, system};

    check(list->AceCount == 2, "two entries, found " + std::to_string(list->AceCount));
    for (DWORD i = 0; i < list->AceCount && i < 2; ++i) {
        void* entry = nullptr;
        if (!GetAce(list, i, &entry)) {
            check(false, "entry " + std::to_string(i) + " can be read");
            continue;
        }
        const auto* header = static_cast<ACE_HEADER*>(entry);
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        check(header->AceType == ACCESS_ALLOWED_ACE_TYPE &&
                  (header->AceFlags & INHERITED_ACE) == 0 && allowed->Mask == FILE_ALL_ACCESS &&
                  EqualSid(sid, expected[i]),
              "entry " + std::to_string(i) + " allows full control to " + sid_text(expected[i]) +
                  ": type " + std::to_string(header->AceType) + ", flags " +
                  std::to_string(header->AceFlags) + ", mask " + std::to_string(allowed->Mask) +
                  ", " + sid_text(sid));
    }
    LocalFree(descriptor);
    return failed == 0 ? 0 : 1;
}
