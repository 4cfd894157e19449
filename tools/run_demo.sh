#!/usr/bin/env bash
# run_demo.sh BUILD_DIR [--auto]: the demo from a built tree: a throw-away game
# folder with a few replays, the local score service on loopback, which prints
# every report it accepts, and Zarvik (built against it) in the game's folder.
set -euo pipefail
build=$(cd "$1" && pwd)
# shellcheck source=testkit/display.sh
. "$(dirname "$0")/../testkit/display.sh"
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo/game/replay" "$demo/game/zarvik"
printf 'MZ' >"$demo/game/th10.exe"
"$build/tools/zarvik-make-replays" "$demo/game/replay" >/dev/null
replays=$(find "$demo/game/replay" -maxdepth 1 -name '*.rpy' | wc -l)

# What a player installs: the program with the trusted CA bundle beside it.
cp "$build/app/zarvik-local" "$demo/game/zarvik/zarvik"
cp "$build/tools/test-certs/ca.pem" "$demo/game/zarvik/cacert.pem"

log="$demo/service.log"
score_service_start "$build" "$log"
tail -n +1 -f "$log" --pid "$score_service_pid" &

echo "Demo game folder: $demo/game ($replays replays); $(sed -n 's/^zarvik-score-service: //p' "$log.requests")"
echo "Zarvik's own console output goes to $demo/zarvik.out"
if [ "${2:-}" != --auto ]; then
  echo 'Press "Token Girin", type any token and confirm: Zarvik saves it and sends every replay.'
  echo 'Press "Replay Gönderin" to send them again (the service answers 409 and nothing is shown).'
  echo 'Close the window to end the demo.'
  # The session may give it none (a root shell, say).
  [ -n "${XDG_RUNTIME_DIR:-}" ] || display_runtime_folder
  (cd "$demo/game/zarvik" && ./zarvik >"$demo/zarvik.out")
  exit 0
fi

# --auto: a person's clicks and keys, on a virtual display of its own.
display_start demo
accepted() { wc -l <"$log"; }
# A TLS key log would let anyone holding it read every token sent: the
# program ignores the variable that asks libcurl for one.
key_log="$demo/tls-keys.log"
SSLKEYLOGFILE=$key_log display_open_main "$demo/zarvik.out" "$demo/game/zarvik" ./zarvik
program=$display_pid main=$display_main
display_enter_token "$main" "$program" 'demo-token'
display_wait_until '[ "$(accepted)" -ge "$replays" ]' "$replays reports"
display_click_send "$main"
display_wait_until '[ "$(score_service_answered "$log" 409)" -ge "$replays" ]' "the second send"
display_close_program "$main" "$program" Zarvik

# Started again, it sends with the token saved last time, without asking.
display_open_main "$demo/zarvik-again.out" "$demo/game/zarvik" ./zarvik
display_click_send "$display_main"
display_wait_until '[ "$(score_service_answered "$log" 409)" -ge $((2 * replays)) ]' \
  "the send with the saved token"
display_close_program "$display_main" "$display_pid" Zarvik
[ ! -e "$key_log" ] || display_fail "SSLKEYLOGFILE was obeyed: the TLS keys are in $key_log"
echo "Demo done: $(accepted) of $replays replays reported, token kept in $demo/game/zarvik/token.txt"
[ "$(accepted)" -eq "$replays" ] || display_fail "$(accepted) reports for $replays replays"
