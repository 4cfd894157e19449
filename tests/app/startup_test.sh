#!/usr/bin/env bash
# Runs the real program on a virtual X display (run under xvfb-run).
# With the game's replay folder missing it shows one error box, never its
# window, and exits with -1; with the game in place it shows its window and
# exits with 0 when the window is closed.
set -euo pipefail
program=$1
work=$(mktemp -d)
export QT_QPA_PLATFORM=xcb

# A window manager, so that windows can be closed as a person closes them.
openbox >/dev/null 2>&1 &
wm=$!
trap 'kill "${pid:-}" "$wm" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done

# Waits up to 10 s for a visible window whose title is exactly $1; prints its id.
wait_for_window() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.1
  done
  echo "no window titled '$1' appeared" >&2
  return 1
}

# Waits up to 10 s for the program to end; sets `code` to its exit code.
wait_for_exit() {
  for _ in $(seq 100); do
    if ! kill -0 "$pid" 2>/dev/null; then
      code=0
      wait "$pid" || code=$?
      return 0
    fi
    sleep 0.1
  done
  echo "the program did not end" >&2
  return 1
}

fail() { echo "FAIL: $*" >&2; exit 1; }

# 1. No replay folder: one box, no window, exit code -1 (255 as seen here).
mkdir -p "$work/missing/zarvik"
touch "$work/missing/th10.exe"
cd "$work/missing/zarvik"
"$program" & pid=$!
box=$(wait_for_window Hata)
[ "$(xdotool search --onlyvisible --name '^Hata$' | wc -l)" -eq 1 ] || fail "more than one box"
xdotool search --onlyvisible --name '^Zarvik$' >/dev/null 2>&1 && fail "window shown despite the missing replay folder"
xdotool windowfocus --sync "$box" key Return
wait_for_exit
[ "$code" -eq 255 ] || fail "exit code $code, expected -1"
echo "ok: missing replay folder gives one box and exit code -1"

# 2. Game in place: the window appears, and closing it ends the program with 0.
mkdir -p "$work/game/replay" "$work/game/zarvik"
touch "$work/game/th10.exe"
cd "$work/game/zarvik"
"$program" & pid=$!
window=$(wait_for_window Zarvik)
read -r width height < <(xdotool getwindowgeometry "$window" | awk '/Geometry/ {split($2, s, "x"); print s[1], s[2]}')
[ "$width" = 400 ] && [ "$height" = 100 ] || fail "window is ${width}x${height}, expected 400x100"
xdotool search --onlyvisible --name '^Hata$' >/dev/null 2>&1 && fail "unexpected error box"
wmctrl -i -c "$window"
wait_for_exit
[ "$code" -eq 0 ] || fail "exit code $code after closing the window"
echo "ok: window shown at 400x100 and closed with exit code 0"
echo "2 passed, 0 failed"
