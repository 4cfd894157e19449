#!/usr/bin/env bash
# Runs the real program on a private virtual X display, without and with the
# game's replay folder: startup_test.sh PROGRAM
set -euo pipefail
program=$(realpath "$1")
# shellcheck source=testkit/display.sh
. "$(dirname "$0")/../../testkit/display.sh"
display_start startup_test
work=$display_work

# 1. No replay folder: one box, no window, exit code -1 (255 as seen here).
mkdir -p "$work/missing/zarvik"
touch "$work/missing/th10.exe"
display_expect_missing_replay_folder "$work/missing/zarvik" "$program"
ok "missing replay folder gives one box and exit code -1"

# 2. Game in place: the window appears, and closing it ends the program with 0.
mkdir -p "$work/game/replay" "$work/game/zarvik"
touch "$work/game/th10.exe"
# Started with a mask that lets others read new files, it narrows its own.
umask 022
display_open_main "$work/game.out" "$work/game/zarvik" "$program"
mask=$(sed -n 's/^Umask:[[:space:]]*//p' "/proc/$display_pid/status")
[ "$mask" = 0077 ] || display_fail "the program runs with the file mask ${mask:-(none)}, not 0077"
ok "started with the file mask 0022, it runs with 0077"
display_close_program "$display_main" "$display_pid" "the program"
ok "window shown at $display_main_size and closed with exit code 0, no error box"
