#!/usr/bin/env bash
# Builds the Windows program with MinGW-w64 and packs the player's folder as
# BUILD/zarvik-<version>-win64.zip: one top folder "zarvik" holding
# zarvik.exe, every DLL it needs, the Qt plugins, cacert.pem, the licence
# texts and the build record, with the ZIP's checksum and build record beside
# it. Builds the Windows libraries first when they are not cached.
#   windows.sh [--build-dir BUILD] [CMake options...]
# BUILD defaults to build-win64; CMake options go to the configure step, for
# example -DZARVIK_UPLOAD_URL=https://scores.example.org/upload/th10.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/pack.sh"
pack_start "$root" build-win64 "$@"
"$root/scripts/setup.sh" test

prefixes=$("$root/scripts/windows_toolchain.sh")
IFS=';' read -r qt_prefix curl_prefix openssl_prefix <<<"$prefixes"
mingw_runtime=(/usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib)
objdump=x86_64-w64-mingw32-objdump

pack_build -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DZARVIK_WIN64_PREFIXES="$prefixes" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
# Stripped below with MinGW-w64's strip, which the install step does not use.
pack_stage
# Qt finds its plugins beside the program (the program's built-in qt.conf).
mkdir -p "$folder/platforms" "$folder/styles"
cp "$qt_prefix/plugins/platforms/qwindows.dll" "$folder/platforms/"
cp "$qt_prefix/plugins/styles/qwindowsvistastyle.dll" "$folder/styles/"

# The DLLs to ship are whatever the program and the plugins import, and what
# those import in turn, found in the libraries built for Windows or in the
# MinGW-w64 runtime. Anything else must be a part of Windows itself, which
# MinGW-w64 knows by its import library; a DLL that is neither is an error.
search=("$qt_prefix/bin" "$curl_prefix/bin" "$openssl_prefix/bin" "${mingw_runtime[@]}")
is_windows_dll() {
  local name=${1,,}
  case "$name" in api-ms-win-* | ext-ms-win-*) return 0 ;; esac
  [ -f "/usr/x86_64-w64-mingw32/lib/lib${name%.dll}.a" ]
}
# Where each shipped DLL came from, for the component list.
declare -A origin=(
  [platforms/qwindows.dll]="$qt_prefix" [styles/qwindowsvistastyle.dll]="$qt_prefix"
)
queue=("$folder/zarvik.exe" "$folder/platforms/qwindows.dll" "$folder/styles/qwindowsvistastyle.dll")
declare -A seen=()
while [ ${#queue[@]} -gt 0 ]; do
  binary=${queue[0]}
  queue=("${queue[@]:1}")
  while read -r dll; do
    [ -n "$dll" ] && [ -z "${seen[${dll,,}]:-}" ] || continue
    seen[${dll,,}]=1
    found=""
    for dir in "${search[@]}"; do
      if [ -f "$dir/$dll" ]; then
        found="$dir/$dll"
        break
      fi
    done
    if [ -n "$found" ]; then
      cp "$found" "$folder/"
      origin[$dll]=$found
      queue+=("$folder/$dll")
    elif ! is_windows_dll "$dll"; then
      echo "windows: $(basename "$binary") needs $dll, which is neither built here nor part of Windows" >&2
      exit 1
    fi
  done < <("$objdump" -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
find "$folder" \( -iname '*.exe' -o -iname '*.dll' \) -exec x86_64-w64-mingw32-strip --strip-unneeded {} +

# What the ZIP ships, by Debian source package and version, so that an
# advisory can be matched against a release at a glance.
# files_from PREFIX: the shipped DLLs that came from below PREFIX.
files_from() {
  local file
  for file in "${!origin[@]}"; do
    case "${origin[$file]}" in "$1"*) echo "$file" ;; esac
  done | LC_ALL=C sort | paste -s -d ' ' - | sed 's/ /, /g'
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
{
  buildinfo_windows_libraries "$prefixes"
  buildinfo_packages "${system_files[@]}" "${origin[@]}"
  buildinfo_tools windows
} | pack_record "$folder/licenses/buildinfo.txt" "$(basename "$zip")" scripts/windows.sh
pack_normalise "$folder" "$SOURCE_DATE_EPOCH"
pack_zip "$staging" zarvik "$zip"
pack_checksum "$zip" "$folder/licenses/buildinfo.txt"
echo "windows: $zip ($(find "$folder" -maxdepth 1 -iname '*.dll' | wc -l) DLLs)"
