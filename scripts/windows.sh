#!/usr/bin/env bash
# Builds the Windows program with MinGW-w64 and packs the player's folder as
# BUILD/zarvik-<version>-win64.zip: one top folder "zarvik" holding
# zarvik.exe, every DLL it needs, the Qt plugins, cacert.pem and the licence
# texts. Builds the Windows libraries first when they are not cached.
#   windows.sh [--build-dir BUILD] [CMake options...]
# BUILD defaults to build-win64; CMake options go to the configure step, for
# example -DZARVIK_UPLOAD_URL=https://scores.example.org/upload/th10.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-win64"
if [ "${1:-}" = --build-dir ]; then
  build=$(realpath -m "$2")
  shift 2
fi
"$root/scripts/setup.sh" test

prefixes=$("$root/scripts/windows_toolchain.sh")
IFS=';' read -r qt_prefix curl_prefix openssl_prefix <<<"$prefixes"
mingw_runtime=(/usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib)
objdump=x86_64-w64-mingw32-objdump

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DZARVIK_WIN64_PREFIXES="$prefixes" -DCMAKE_BUILD_TYPE=Release \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DZARVIK_BUILD_TESTS=OFF -DZARVIK_BUILD_DEMO=OFF -DZARVIK_BUILD_BENCHMARKS=OFF "$@" >/dev/null
cmake --build "$build" --target zarvik
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")

staging="$build/package"
folder="$staging/zarvik"
rm -rf "$staging"
cmake --install "$build" --prefix "$staging" >/dev/null
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
      queue+=("$folder/$dll")
    elif ! is_windows_dll "$dll"; then
      echo "windows: $(basename "$binary") needs $dll, which is neither built here nor part of Windows" >&2
      exit 1
    fi
  done < <("$objdump" -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
find "$folder" -iname '*.exe' -o -iname '*.dll' | xargs x86_64-w64-mingw32-strip --strip-unneeded

zip="$build/zarvik-$version-win64.zip"
rm -f "$zip"
(cd "$staging" && cmake -E tar cf "$zip" --format=zip zarvik)
echo "windows: $zip ($(find "$folder" -maxdepth 1 -iname '*.dll' | wc -l) DLLs)"
