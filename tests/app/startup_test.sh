#!/usr/bin/env bash
# Runs the real program on a private virtual X display:
#   startup_test.sh PROGRAM
# With the game's replay folder missing it shows one error box, never its
# window, and exits with -1; with the game in place it shows its window and
# exits with 0 when the window is closed.
set -euo pipefail
program=$(realpath "$1")
# shellcheck source=tests/support/display.sh
. "$(dirname "$0")/../support/display.sh"
display_start startup_test
work=$display_work

# 1. No replay folder: one box, no window, exit code -1 (255 as seen here).
mkdir -p "$work/missing/zarvik"
touch "$work/missing/th10.exe"
display_spawn "$work/missing.out" "$work/missing/zarvik" "$program"
pid=$display_pid
box=$(display_wait_window Hata "$pid")
[ "$(display_windows Hata | wc -l)" -eq 1 ] || display_fail "more than one box"
[ -z "$(display_windows Zarvik)" ] || display_fail "window shown despite the missing replay folder"
display_dismiss "$box"
display_wait_exit "$pid" "the program to end once its box was closed"
[ "$display_exit_code" -eq 255 ] || display_fail "exit code $display_exit_code, expected -1"
echo "ok: missing replay folder gives one box and exit code -1"

# 2. Game in place: the window appears, and closing it ends the program with 0.
mkdir -p "$work/game/replay" "$work/game/zarvik"
touch "$work/game/th10.exe"
display_spawn "$work/game.out" "$work/game/zarvik" "$program"
pid=$display_pid
window=$(display_wait_window Zarvik "$pid")
size=$(display_window_size "$window")
[ "$size" = "$display_main_size" ] || display_fail "window is $size, expected $display_main_size"
[ -z "$(display_windows Hata)" ] || display_fail "unexpected error box"
display_close_window "$window"
display_wait_exit "$pid" "the program to end once its window was closed"
[ "$display_exit_code" -eq 0 ] || display_fail "exit code $display_exit_code after closing the window"
echo "ok: window shown at $display_main_size and closed with exit code 0"
echo "2 passed, 0 failed"
