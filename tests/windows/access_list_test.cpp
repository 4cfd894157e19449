// Prints the access list of FILE in SDDL, then the SID of the account this
// runs as: access_list_test FILE. A test helper for the Windows build only,
// run under Wine; the test compares the two. Exits non-zero when either
// cannot be read, saying which call failed and what it returned.

#include <windows.h>

#include <aclapi.h>
#include <cstdio>
#include <sddl.h>

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: access_list_test FILE\n");
        return 2;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = GetNamedSecurityInfoW(argv[1], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                             nullptr, nullptr, nullptr, nullptr, &descriptor);
    char* list = nullptr;
    if (read != ERROR_SUCCESS ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &list, nullptr)) {
        std::fprintf(stderr, "access_list_test: GetNamedSecurityInfoW returned %lu, error %lu\n",
                     read, GetLastError());
        return 1;
    }
    HANDLE token = nullptr;
    alignas(TOKEN_USER) unsigned char user[256];
    DWORD size = 0;
    char* user_sid = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
        !GetTokenInformation(token, TokenUser, user, sizeof user, &size) ||
        !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &user_sid)) {
        std::fprintf(stderr, "access_list_test: cannot name the current user, error %lu\n",
                     GetLastError());
        return 1;
    }
    std::printf("%s\n%s\n", list, user_sid);
    LocalFree(user_sid);
    LocalFree(list);
    LocalFree(descriptor);
    CloseHandle(token);
    return 0;
}
