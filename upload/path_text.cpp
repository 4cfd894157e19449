#include "upload/path_text.h"

#include <QByteArray>
#include <QStringEncoder>
#include <QStringView>

std::string utf8_from_utf16(std::u16string_view units) {
    // Not QString::fromStdU16String(units).toUtf8(): toUtf8() writes '?' for
    // an unpaired surrogate, and fromStdU16String reads a leading U+FEFF or
    // U+FFFE as a byte order mark (dropped, or every unit byte-swapped). A
    // stateless encoder over a view writes U+FFFD and keeps every unit.
    QStringEncoder to_utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QByteArray bytes =
        to_utf8(QStringView(units.data(), static_cast<qsizetype>(units.size())));
    return bytes.toStdString();
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
