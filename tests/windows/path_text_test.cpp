// File names as text on Windows, where a name is UTF-16 and NTFS allows
// unpaired surrogates: every name converts, without throwing, with U+FFFD
// for each unpaired surrogate. A test for the Windows build only, run under
// Wine; prints one line per case and exits non-zero on any failure.

#include "ui/path_text.h"

#include <cstdio>
#include <filesystem>
#include <string>

int main() {
    struct name_case {
        const char* what;
        std::wstring name;
        std::string utf8;
    };
    const name_case cases[] = {
        {"Japanese folder", L"..\\\x30B2\x30FC\x30E0\\th10",
         "..\\\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0\\th10"},
        {"pair outside the BMP", L"a\xD83D\xDE00.rpy", "a\xF0\x9F\x98\x80.rpy"},
        {"unpaired high surrogate", L"..\\replay\\bad_\xD800.rpy",
         "..\\replay\\bad_\xEF\xBF\xBD.rpy"},
        {"unpaired low surrogate at the end", L"bad_\xDC00", "bad_\xEF\xBF\xBD"},
        {"surrogates in the wrong order", L"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    int failed = 0;
    for (const name_case& test : cases) {
        const std::string got = utf8_path(std::filesystem::path(test.name));
        const bool ok = got == test.utf8;
        std::printf("%s: %s\n", ok ? "ok" : "FAIL", test.what);
        failed += ok ? 0 : 1;
    }
    // The library's own conversion throws for such a name: what utf8_path
    // is there to avoid.
    bool library_throws = false;
    try {
        (void)std::filesystem::path(L"bad_\xD800").u8string();
    } catch (const std::exception&) {
        library_throws = true;
    }
    std::printf("%s: path::u8string() throws for an unpaired surrogate\n",
                library_throws ? "ok" : "FAIL");
    failed += library_throws ? 0 : 1;
    return failed == 0 ? 0 : 1;
}
