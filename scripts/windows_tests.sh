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

# shellcheck source=testkit/wine.sh
source "$root/testkit/wine.sh"
wine_use "$wine_prefix"
source "$root/scripts/lib/on_exit.sh"
on_exit wine_stop

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DZARVIK_WIN64_PREFIXES="$prefixes" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DZARVIK_BUILD_TESTS=ON -DZARVIK_BUILD_DEMO=OFF -DZARVIK_BUILD_BENCHMARKS=OFF \
  -DCMAKE_CROSSCOMPILING_EMULATOR="bash;$root/testkit/run_in_wine.sh;$wine_prefix;$dll_folders" \
  "$@" >/dev/null
cmake --build "$build" -j "$jobs"
# The Wine prefix is made before the tests start, outside their TIMEOUT.
bash "$root/testkit/run_in_wine.sh" "$wine_prefix" "$dll_folders" cmd /c exit
# Every test has a TIMEOUT of its own; this bounds any that would lack one.
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300
