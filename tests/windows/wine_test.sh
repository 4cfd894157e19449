#!/usr/bin/env bash
# The Windows program from its ZIP, run under Wine on a virtual X display
# (run under xvfb-run), driven with a window manager and xdotool as a person
# would drive it:
#   wine_test.sh PRODUCT_ZIP LOCAL_ZIP LINUX_BUILD
# PRODUCT_ZIP is the package players download; LOCAL_ZIP the same program
# built to report to the local score service; LINUX_BUILD a Linux build tree
# with zarvik-local, the score service, the demo replay maker and the test
# certificates, whose reports the Windows program's must equal byte for byte.
set -euo pipefail
product_zip=$(realpath "$1")
local_zip=$(realpath "$2")
linux_build=$(realpath "$3")
port=$(sed -n 's/^ZARVIK_LOCAL_PORT:[A-Z]*=//p' "$linux_build/CMakeCache.txt")
certs="$linux_build/tools/test-certs"
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

# Wine in a prefix of its own, with no Mono or Gecko to offer (they would be
# downloaded), in a UTF-8 locale so that Unix file names map to Windows ones.
export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
export QT_QPA_PLATFORM=xcb
openbox >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done
wine wineboot --init >/dev/null 2>&1
wineserver -w

passed=0
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
ok() {
  echo "ok: $*"
  passed=$((passed + 1))
}
windows_titled() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null || true; }
# wait_until CONDITION WHAT: up to 30 s, as Wine starts slowly.
wait_until() {
  for _ in $(seq 300); do
    if eval "$1"; then return 0; fi
    sleep 0.1
  done
  fail "timed out waiting for $2"
}
wait_for_window() {
  wait_until "[ -n \"\$(windows_titled '$1')\" ]" "a window titled '$1'"
  windows_titled "$1" | head -n 1
}
# Waits for the program to end and sets `code` to its exit code.
wait_for_exit() {
  wait_until "! kill -0 $1 2>/dev/null" "the program to end"
  code=0
  wait "$1" || code=$?
}
press_enter_in() { xdotool windowfocus --sync "$1" key Return; }
token_button() { xdotool mousemove --window "$1" 200 30 click 1; }
send_button() { xdotool mousemove --window "$1" 200 72 click 1; }

# unpack ZIP GAME_FOLDER: the package as a player unpacks it, beside th10.exe.
unpack() {
  mkdir -p "$2"
  (cd "$2" && cmake -E tar xf "$1")
  [ -f "$2/zarvik/zarvik.exe" ] || fail "$(basename "$1") has no zarvik/zarvik.exe"
  printf 'MZ' >"$2/th10.exe"
}

# service LOG [KNOBS...]: the local score service, its reports in LOG.
service() {
  local log=$1
  shift
  "$linux_build/tools/zarvik-score-service" --port "$port" --cert "$certs/server.pem" \
    --key "$certs/server.key" "$@" >"$log" 2>"$log.requests" &
  service_pid=$!
  pids+=("$service_pid")
  wait_until "grep -q listening '$log.requests' || ! kill -0 $service_pid" "the score service"
  kill -0 "$service_pid" 2>/dev/null || fail "score service: $(cat "$log.requests")"
}
stop_service() {
  kill "$service_pid"
  wait "$service_pid" 2>/dev/null || true
}
answered() { grep -c -- "-> $2\$" "$1.requests" || true; }

# 1. The product without a replay folder: one box, no window, exit code -1.
unpack "$product_zip" "$work/missing"
(cd "$work/missing/zarvik" && exec wine zarvik.exe) &
program=$!
box=$(wait_for_window Hata)
[ "$(windows_titled Hata | wc -l)" -eq 1 ] || fail "more than one box"
[ -z "$(windows_titled Zarvik)" ] || fail "window shown despite the missing replay folder"
press_enter_in "$box"
wait_for_exit "$program"
[ "$code" -eq 255 ] || fail "exit code $code, expected -1 (255)"
ok "missing replay folder: one box, no window, exit code -1"

# 2. The product's token dialog saves exactly the typed bytes.
unpack "$product_zip" "$work/empty"
mkdir -p "$work/empty/replay"
(cd "$work/empty/zarvik" && exec wine zarvik.exe) &
program=$!
main=$(wait_for_window Zarvik)
token_button "$main"
wait_until '[ "$(windows_titled Zarvik | wc -l)" -ge 2 ]' "the token dialog"
dialog=$(windows_titled Zarvik | grep -v -x "$main" | head -n 1)
xdotool windowfocus --sync "$dialog" type --delay 30 'wine-Token_42'
xdotool key Return
press_enter_in "$(wait_for_window Kaydedildi)"
[ "$(cat "$work/empty/zarvik/token.txt")" = 'wine-Token_42' ] &&
  [ "$(wc -c <"$work/empty/zarvik/token.txt")" -eq 13 ] || fail "token.txt holds '$(cat "$work/empty/zarvik/token.txt")'"
wmctrl -i -c "$main"
wait_for_exit "$program"
[ "$code" -eq 0 ] || fail "exit code $code after closing the window"
ok "token dialog saves the typed bytes; closing the window exits with 0"

# 3. A full scan below a Japanese folder name, one replay with a Japanese
# file name: the Linux program's reports first, then the Windows program's.
game="$work/ゲーム/th10"
mkdir -p "$game/replay" "$game/linux"
"$linux_build/tools/zarvik-make-replays" "$game/replay" >/dev/null
first=$(find "$game/replay" -name '*.rpy' | sort | head -n 1)
mv "$first" "$game/replay/リプレイ_01.rpy"
replays=$(find "$game/replay" -name '*.rpy' | wc -l)
unpack "$local_zip" "$game"
# The test CA in place of the system bundle, for both programs.
cp "$certs/ca.pem" "$game/zarvik/cacert.pem"
cp "$linux_build/app/zarvik-local" "$certs/ca.pem" "$game/linux/"
mv "$game/linux/ca.pem" "$game/linux/cacert.pem"
# A token the dialog could not type here: non-ASCII, and needing escapes.
token='şifre "ü\gizli'
printf '%s' "$token" | tee "$game/zarvik/token.txt" >"$game/linux/token.txt"

# run_scan DIR COMMAND...: starts the program in DIR, presses send, waits for
# every replay to be answered with STATUS (global), and closes it.
run_scan() {
  local dir=$1 main program
  shift
  (cd "$dir" && exec "$@") >/dev/null 2>&1 &
  program=$!
  main=$(wait_for_window Zarvik)
  send_button "$main"
  wait_until "[ \"\$(answered '$log' $status)\" -ge $replays ]" "$replays answers of $status"
  sleep 0.5
  [ -z "$(windows_titled Hata)" ] || fail "an error box after a send answered with $status"
  wmctrl -i -c "$main"
  wait_for_exit "$program"
  [ "$code" -eq 0 ] || fail "exit code $code after closing the window"
}

log="$work/linux.log" status=200
service "$log"
run_scan "$game/linux" ./zarvik-local
stop_service
sort "$log" >"$work/linux.reports"

log="$work/windows.log"
service "$log"
run_scan "$game/zarvik" wine zarvik.exe
sort "$log" >"$work/windows.reports"
[ "$(wc -l <"$work/windows.reports")" -eq "$replays" ] || fail "$(wc -l <"$work/windows.reports") reports for $replays replays"
cmp -s "$work/linux.reports" "$work/windows.reports" ||
  fail "the Windows reports differ from the Linux ones: $(diff "$work/linux.reports" "$work/windows.reports" | head -n 4)"
grep -q '"token":"şifre \\"ü\\\\gizli"' "$work/windows.reports" || fail "the token was not sent as saved"
ok "$replays replays below ゲーム (one named リプレイ_01.rpy) reported exactly as on Linux"

# The same replays again: the service knows them, and 409 shows nothing.
status=409
run_scan "$game/zarvik" wine zarvik.exe
stop_service
ok "a second send is answered with 409 and shows no box"

# 4. An error status is shown in a box, one per replay.
log="$work/refusing.log"
service "$log" --status 500
(cd "$game/zarvik" && exec wine zarvik.exe) >/dev/null 2>&1 &
program=$!
main=$(wait_for_window Zarvik)
send_button "$main"
for ((shown = 0; shown < replays; shown++)); do
  box=$(wait_for_window Hata)
  press_enter_in "$box"
  wait_until "[ -z \"\$(windows_titled Hata | grep -x '$box')\" ]" "the box to close"
done
wait_until "[ \"\$(answered '$log' 500)\" -ge $replays ]" "$replays answers of 500"
wmctrl -i -c "$main"
wait_for_exit "$program"
[ "$code" -eq 0 ] || fail "exit code $code after closing the window"
stop_service
ok "status 500 is shown in one box per replay"

echo "$passed passed, 0 failed"
