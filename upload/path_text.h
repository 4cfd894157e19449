#pragma once
// File names as UTF-8 text, for the scan's problem lines and for the
// certificate bundle's name handed to libcurl. Never throws: a name that has
// no exact UTF-8 form is given with U+FFFD in place of what could not be
// converted.

#include <filesystem>
#include <string>
#include <string_view>

// The path in UTF-8. On Windows the name is UTF-16, where NTFS allows
// unpaired surrogates; each becomes U+FFFD. Elsewhere a name is its bytes,
// given unchanged.
std::string utf8_path(const std::filesystem::path& path);

// UTF-16 code units as UTF-8, every unpaired surrogate as U+FFFD.
std::string utf8_from_utf16(std::u16string_view units);
