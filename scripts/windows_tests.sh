#!/usr/bin/env bash
# Builds the test suites for Windows with MinGW-w64 and runs them with ctest
# under Wine: the same suites as on Linux, on the Qt, libcurl and OpenSSL that
# the ZIP ships, with Qt's offscreen platform (never shipped) for the widgets.
# Builds the Windows libraries first when they are not cached.
#   windows_tests.sh [--build-dir BUILD] [CMake options...]
# BUILD defaults to build-win64-tests; CMake options go to the configure step,
# for example -DZARVIK_LOCAL_PORT=47444.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-win64-tests"
if [ "${1:-}" = --build-dir ]; then
  build=$(realpath -m "$2")
  shift 2
fi
"$root/scripts/setup.sh" test
jobs=$(nproc)

prefixes=$("$root/scripts/windows_toolchain.sh" --tests)
IFS=';' read -r qt_prefix curl_prefix openssl_prefix _ <<<"$prefixes"
mingw_runtime=(/usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib)
dll_folders="$qt_prefix/bin:$curl_prefix/bin:$openssl_prefix/bin:${mingw_runtime[0]}:${mingw_runtime[1]}"
wine_prefix="$build/wine"

# The prefix's wineserver outlives the tests unless stopped, and its socket
# folder in /tmp stays behind even then: Debian's Wine names it in the
# prefix's file "wineserver" (/tmp/wine-XXXXXX), other Wine builds use
# /tmp/.wine-UID/server-DEV-INODE after the prefix folder. Other prefixes'
# servers and folders are left alone.
stop_wine() {
  [ -d "$wine_prefix" ] || return 0
  local own server_dir
  server_dir="/tmp/.wine-$(id -u)/server-$(stat -c '%d %i' "$wine_prefix" | {
    read -r dev inode
    printf '%x-%x' "$dev" "$inode"
  })"
  WINEPREFIX=$wine_prefix timeout 30 wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX=$wine_prefix timeout 30 wineserver -w >/dev/null 2>&1 || true
  own=$(cat "$wine_prefix/wineserver" 2>/dev/null || true)
  case "$own" in wine-??????) rm -rf "/tmp/$own" ;; esac
  rm -rf "$server_dir"
}
trap stop_wine EXIT

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DZARVIK_WIN64_PREFIXES="$prefixes" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DZARVIK_BUILD_TESTS=ON -DZARVIK_BUILD_DEMO=OFF -DZARVIK_BUILD_BENCHMARKS=OFF \
  -DCMAKE_CROSSCOMPILING_EMULATOR="bash;$root/tests/windows/run_in_wine.sh;$wine_prefix;$dll_folders" \
  "$@" >/dev/null
cmake --build "$build" -j "$jobs"
# The Wine prefix is made before the tests start, outside their TIMEOUT.
bash "$root/tests/windows/run_in_wine.sh" "$wine_prefix" "$dll_folders" cmd /c exit
# Every test has a TIMEOUT of its own; this bounds any that would lack one.
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300
