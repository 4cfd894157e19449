#!/usr/bin/env bash
# Builds the Windows program with MinGW-w64 and packs the player's folder as
# BUILD/zarvik-<version>-win64.zip: one top folder "zarvik" holding
# zarvik.exe, every DLL it needs, the Qt plugins, cacert.pem, the licence
# texts and the build record, with the ZIP's checksum and build record beside
# it. Builds the Windows libraries first when they are not cached.
#   windows.sh [--build-dir BUILD] [CMake options...]
# BUILD defaults to build-windows; CMake options go to the configure step, for
# example -DZARVIK_UPLOAD_URL=https://scores.example.org/upload/th10.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/pack.sh"
pack_start "$root" windows "$@"
"$root/scripts/setup.sh" windows

prefixes=$("$root/scripts/windows_toolchain.sh")
IFS=';' read -r qt_prefix curl_prefix openssl_prefix <<<"$prefixes"
pack_build -DZARVIK_WIN64_PREFIXES="$prefixes"
# With the DLLs the program and Qt's plugins need, each listed with where it
# came from in shipped-dlls.txt; stripped below with MinGW-w64's strip, which
# the install step does not use.
pack_stage
find "$folder" \( -iname '*.exe' -o -iname '*.dll' \) -exec x86_64-w64-mingw32-strip --strip-unneeded {} +

# What the ZIP ships, by Debian source package and version, so that an
# advisory can be matched against a release at a glance.
# files_from PREFIX: the shipped DLLs that came from below PREFIX.
files_from() {
  awk -F '\t' -v from="$1" 'index($2, from) == 1 { print $1 }' "$build/shipped-dlls.txt" |
    LC_ALL=C sort | paste -s -d ' ' - | sed 's/ /, /g'
}
# The prefixes are named SOURCE-VERSION-rRECIPE (see windows_toolchain.sh).
built_version() { basename "$1" | sed -e "s/^$2-//" -e 's/-r[0-9]*$//'; }
components=(
  "zarvik|$version|MIT|zarvik.exe"
  "qt6-base|$(built_version "$qt_prefix" qtbase)|$pack_qt_licence|$(files_from "$qt_prefix")"
  "$(pack_debian_source qt6-translations-l10n)|$pack_qt_licence|qtbase_tr.qm, built into zarvik.exe"
  "openssl|$(built_version "$openssl_prefix" openssl)|Apache-2.0|$(files_from "$openssl_prefix")"
  "curl|$(built_version "$curl_prefix" "curl-with-$(basename "$openssl_prefix")")|curl|$(files_from "$curl_prefix")"
  "$(pack_debian_source gcc-mingw-w64-x86-64-posix-runtime)|GPL-3.0-or-later WITH GCC-exception-3.1|$(files_from /usr/lib/gcc)"
  "$(pack_debian_source mingw-w64-x86-64-dev)|MIT|$(files_from /usr/x86_64-w64-mingw32)"
)
pack_components "$folder/licenses/components.spdx" "zarvik-$version-win64" "$build" "${components[@]}"

zip="$build/zarvik-$version-win64.zip"
mapfile -t system_files <"$build/system-files.txt"
mapfile -t shipped < <(cut -f 2 "$build/shipped-dlls.txt")
{
  buildinfo_windows_libraries "$prefixes"
  buildinfo_packages "${system_files[@]}" "${shipped[@]}"
  buildinfo_tools windows
} | pack_record "$folder/licenses/buildinfo.txt" "$(basename "$zip")" scripts/windows.sh
pack_normalise "$folder" "$SOURCE_DATE_EPOCH"
pack_zip "$staging" zarvik "$zip"
pack_checksum "$zip" "$folder"
echo "windows: $zip ($(find "$folder" -maxdepth 1 -iname '*.dll' | wc -l) DLLs)"
