#!/usr/bin/env bash
# run_in_wine.sh PREFIX DLL_FOLDERS PROGRAM [ARGUMENTS...]: ctest's emulator
# for the suites built for Windows, in the build tree's Wine prefix (a ctest
# fixture makes it, tests/CMakeLists.txt), with the DLLs in DLL_FOLDERS, the
# colon-separated folders of Qt, libcurl, OpenSSL and the MinGW-w64 runtime.
# The program gets ZARVIK_WINE_TIMEOUT seconds (280 unless set), less than its
# ctest TIMEOUT, so that it is Wine that ends a hung program, not ctest.
set -euo pipefail
prefix=$1 dll_folders=$2
shift 2

# shellcheck source=tests/windows/wine.sh
. "$(dirname "$0")/wine.sh"
wine_use "$prefix"
# No display: windows go to Wine's null driver, and the widgets under test
# to Qt's offscreen platform.
unset DISPLAY WAYLAND_DISPLAY
# Wine's PATH, where Windows looks for DLLs: the folders on drive Z:, which
# Wine maps to the Unix root.
wine_path="Z:${dll_folders//:/;Z:}"
export WINEPATH=${wine_path//\//\\}

# The wineserver and services that the first program starts inherit its
# standard error and outlive it, which ctest would wait for: Wine writes it
# to a file, shown when the program has ended.
bound=${ZARVIK_WINE_TIMEOUT:-280}
ulimit -c 0 # no core of Wine's in the build tree
errors=$(mktemp)
show_errors() {
  cat "$errors" >&2
  rm -f "$errors"
}
# shellcheck source=scripts/lib/on_exit.sh
source "$(dirname "$0")/../../scripts/lib/on_exit.sh"
on_exit show_errors
started=$SECONDS
status=0
timeout -k 10 "$bound" wine "$@" 2>>"$errors" || status=$?
# Wine 8 dies of SIGSEGV (139) as a program ends, about one run in thirty under load: once more.
if [ "$status" -eq 139 ] && [ $((SECONDS - started)) -lt "$bound" ]; then
  echo "run_in_wine: Wine itself crashed (SIGSEGV) running $(basename "$1"); running it once more" >>"$errors"
  status=0
  timeout -k 10 $((bound - (SECONDS - started))) wine "$@" 2>>"$errors" || status=$?
fi
exit "$status"
