#include "ui/path_text.h"

namespace {

bool is_high_surrogate(char32_t unit) {
    return unit >= 0xd800 && unit <= 0xdbff;
}

bool is_low_surrogate(char32_t unit) {
    return unit >= 0xdc00 && unit <= 0xdfff;
}

void append_utf8(std::string& out, char32_t code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xc0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3f));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xe0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code_point & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code_point & 0x3f));
    }
}

} // namespace

std::string utf8_from_utf16(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t code_point = units[i];
        if (is_high_surrogate(code_point) && i + 1 < units.size() &&
            is_low_surrogate(units[i + 1])) {
            code_point = 0x10000 + ((code_point - 0xd800) << 10) + (units[i + 1] - 0xdc00);
            ++i;
        } else if (is_high_surrogate(code_point) || is_low_surrogate(code_point)) {
            code_point = 0xfffd;
        }
        append_utf8(out, code_point);
    }
    return out;
}

std::string utf8_path(const std::filesystem::path& path) {
#ifdef _WIN32
    // path::u8string() throws for an unpaired surrogate instead.
    const std::wstring& name = path.native();
    return utf8_from_utf16(std::u16string(name.begin(), name.end()));
#else
    return path.string();
#endif
}
