#!/usr/bin/env bash
# Runs one Windows test program under Wine: ctest's emulator for the test
# suites built for Windows (CMAKE_CROSSCOMPILING_EMULATOR).
#   run_in_wine.sh PREFIX DLL_FOLDERS PROGRAM [ARGUMENTS...]
# PREFIX is the build tree's own Wine prefix, which a ctest fixture makes
# before the first test and stops after the last (wine.sh); DLL_FOLDERS the
# folders, separated by colons, of the DLLs the programs load (Qt, libcurl,
# OpenSSL, the MinGW-w64 runtime). The program gets ZARVIK_WINE_TIMEOUT
# seconds (280 unless set), less than its ctest TIMEOUT, so that it is Wine
# that ends a hung program, not ctest.
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
wine_path=
IFS=: read -r -a folders <<<"$dll_folders"
for folder in "${folders[@]}"; do
  wine_path+="${wine_path:+;}Z:${folder//\//\\}"
done
export WINEPATH=$wine_path

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
