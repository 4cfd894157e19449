#!/usr/bin/env bash
# Runs the demo from a built tree: run_demo.sh BUILD_DIR [--auto]
# Makes a throw-away game folder with a few replays, starts the local score
# service on loopback and opens Zarvik (built against that service) in the
# folder below the game. The service prints every report it accepts.
set -euo pipefail
build=$(cd "$1" && pwd)
auto=0
[ "${2:-}" = "--auto" ] && auto=1

port=$(sed -n 's/^ZARVIK_LOCAL_PORT:[A-Z]*=//p' "$build/CMakeCache.txt")
certs="$build/tools/test-certs"
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo/game/replay" "$demo/game/zarvik"
printf 'MZ' >"$demo/game/th10.exe"
"$build/tools/zarvik-make-replays" "$demo/game/replay" >/dev/null
replays=$(find "$demo/game/replay" -maxdepth 1 -name '*.rpy' | wc -l)

# What a player installs: the program with the trusted CA bundle beside it.
cp "$build/app/zarvik-local" "$demo/game/zarvik/zarvik"
cp "$certs/ca.pem" "$demo/game/zarvik/cacert.pem"

log="$demo/service.log"
"$build/tools/zarvik-score-service" --port "$port" --cert "$certs/server.pem" \
  --key "$certs/server.key" >"$log" 2>&1 &
service=$!
trap 'kill "$service" 2>/dev/null || true; wait "$service" 2>/dev/null || true' EXIT
# A service that cannot listen (say one left running holds the port) exits at
# once with the reason; the demo must not go on against the other one.
for _ in $(seq 50); do
  grep -q ' listening on ' "$log" && break
  kill -0 "$service" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q ' listening on ' "$log"; then
  cat "$log" >&2
  echo "demo: the score service did not start" >&2
  exit 1
fi
tail -n +1 -f "$log" --pid "$service" &

echo "Demo game folder: $demo/game ($replays replays); score service on https://localhost:$port"
echo "Zarvik's own console output goes to $demo/zarvik.out"
cd "$demo/game/zarvik"
if [ "$auto" -eq 0 ]; then
  echo 'Press "Token Girin", type any token and confirm: Zarvik saves it and sends every replay.'
  echo 'Press "Replay Gönderin" to send them again (the service answers 409 and nothing is shown).'
  echo 'Close the window to end the demo.'
  ./zarvik >"$demo/zarvik.out"
  exit 0
fi

# --auto: a person's clicks and keys, on whatever display this is, with a
# window manager to close the window as a person would.
export QT_QPA_PLATFORM=xcb
if ! wmctrl -m >/dev/null 2>&1; then
  openbox >/dev/null 2>&1 &
  wm=$!
  trap 'kill "$service" "$wm" 2>/dev/null || true; wait "$service" 2>/dev/null || true' EXIT
  for _ in $(seq 50); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done
fi
./zarvik >"$demo/zarvik.out" &
program=$!

window_ids() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null || true; }
wait_for() { # condition command, what
  for _ in $(seq 150); do
    if eval "$1"; then return 0; fi
    sleep 0.1
  done
  echo "demo: timed out waiting for $2" >&2
  exit 1
}
accepted() { grep -c '^{' "$log" || true; }
answered() { grep -c " $1\$" "$log" || true; }

wait_for '[ -n "$(window_ids Zarvik)" ]' "the Zarvik window"
main=$(window_ids Zarvik | head -n 1)
xdotool mousemove --window "$main" 200 30 click 1             # "Token Girin"
wait_for '[ "$(window_ids Zarvik | wc -l)" -ge 2 ]' "the token dialog"
dialog=$(window_ids Zarvik | grep -v -x "$main" | head -n 1)
xdotool windowfocus --sync "$dialog" type --delay 20 'demo-token'
xdotool key Return
wait_for '[ -n "$(window_ids Kaydedildi)" ]' "the confirmation box"
xdotool windowfocus --sync "$(window_ids Kaydedildi | head -n 1)" key Return
wait_for '[ "$(accepted)" -ge "$replays" ]' "$replays reports"
xdotool mousemove --window "$main" 200 72 click 1             # "Replay Gönderin"
wait_for '[ "$(answered 409)" -ge "$replays" ]' "the second send"
[ -z "$(window_ids Hata)" ] || { echo "demo: an error box is showing" >&2; exit 1; }
wmctrl -i -c "$main"
wait_for '! kill -0 "$program" 2>/dev/null' "Zarvik to end once its window was closed"
wait "$program"

# Started again, it sends with the token saved last time, without asking.
./zarvik >>"$demo/zarvik.out" &
program=$!
wait_for '[ -n "$(window_ids Zarvik)" ]' "the Zarvik window on the second start"
main=$(window_ids Zarvik | head -n 1)
xdotool mousemove --window "$main" 200 72 click 1             # "Replay Gönderin"
wait_for '[ "$(answered 409)" -ge $((2 * replays)) ]' "the send with the saved token"
[ -z "$(window_ids Hata)" ] || { echo "demo: an error box is showing" >&2; exit 1; }
wmctrl -i -c "$main"
wait_for '! kill -0 "$program" 2>/dev/null' "Zarvik to end once its window was closed"
wait "$program"
echo "Demo done: $(accepted) of $replays replays reported, token kept in $demo/game/zarvik/token.txt"
[ "$(accepted)" -eq "$replays" ]
