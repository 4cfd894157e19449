#!/usr/bin/env bash
# The Windows program from its ZIP, run under Wine on a private virtual X
# display and driven as a person would (testkit/display.sh):
#   wine_test.sh PRODUCT_ZIP LOCAL_ZIP LINUX_BUILD HELPERS
# PRODUCT_ZIP is the package players download; LOCAL_ZIP the same program
# built to report to the local score service; LINUX_BUILD a Linux build tree
# with zarvik-local, the score service, the demo replay maker and the test
# certificates, whose reports the Windows program's must equal byte for byte;
# HELPERS the folder of the test's own zarvik_hold_file.exe, never in a ZIP.
set -euo pipefail
product_zip=$(realpath "$1")
local_zip=$(realpath "$2")
linux_build=$(realpath "$3")
helpers=$(realpath "$4")
# shellcheck source=testkit/display.sh
. "$(dirname "$0")/../../testkit/display.sh"
certs="$linux_build/tools/test-certs"
work=$display_work

# shellcheck source=tests/windows/wine.sh
. "$(dirname "$0")/wine.sh"
wine_use "$work/wine"
display_at_exit wine_stop

display_start wine_test
# Wine starts slowly, the first time in a prefix most of all.
display_timeout=120
wine_make_prefix "$work/wineboot.out" || display_fail "no Wine prefix to test in"

# unpack ZIP GAME_FOLDER: the package as a player unpacks it, beside th10.exe.
unpack() {
  mkdir -p "$2"
  (cd "$2" && cmake -E tar xf "$1")
  [ -f "$2/zarvik/zarvik.exe" ] || display_fail "$(basename "$1") has no zarvik/zarvik.exe"
  # The test-only Windows programs never reach a player.
  [ "$(find "$2/zarvik" -iname '*.exe' | wc -l)" -eq 1 ] ||
    display_fail "$(basename "$1") holds another program besides zarvik.exe"
  printf 'MZ' >"$2/th10.exe"
}

# box_text ID: sets box_text to the text of message box ID, which Qt's boxes
# on Windows copy on Ctrl+C to the clipboard, which Wine hands to X11's. An
# xclip of the test's own first holds it empty, so that no earlier box's
# text is read.
box_text() {
  local id=$1 deadline=$((SECONDS + display_timeout)) attempt=0 holder given_up timed_out clip="$work/clipboard"
  # Wine loses the clipboard's owner about once in thirty boxes under load: a fresh holder after 10 s.
  while :; do
    attempt=$((attempt + 1))
    display_spawn "$work/clipboard-holder-$attempt.out" "$work" xclip -quiet -selection clipboard -i /dev/null
    holder=$display_pid
    # Nobody owning the clipboard makes xclip -o fail; the holder answers with nothing.
    display_wait_until "timeout 20 xclip -o -selection clipboard >'$clip' 2>/dev/null && [ ! -s '$clip' ]" \
      "the clipboard to be held empty"
    display_press_keys "$id" ctrl+c
    given_up=$((SECONDS + 10))
    until [ -s "$clip" ] || [ "$SECONDS" -ge "$given_up" ]; do
      _display_check_wm
      sleep 0.2
      timeout 20 xclip -o -selection clipboard >"$clip" 2>/dev/null || true
    done
    if [ ! -s "$clip" ] && [ "$SECONDS" -ge "$deadline" ]; then
      timed_out="timed out after $display_timeout s waiting for the text of box $id on the clipboard:"
      process_alive "$holder" || display_fail "$timed_out Wine took the clipboard but handed X11 no text"
      display_fail "$timed_out Wine never took it ($attempt attempts)"
    fi
    stop_group "$holder"
    display_wait_exit "$holder" "the clipboard holder to end"
    [ ! -s "$clip" ] || break
  done
  box_text=$(tr -d '\r' <"$clip" | sed -n 4p)
}

# 1. The product without a replay folder: one box, no window, exit code -1.
unpack "$product_zip" "$work/missing"
display_expect_missing_replay_folder "$work/missing/zarvik" wine zarvik.exe
ok "missing replay folder: one box, no window, exit code -1"

# 2. The product's token dialog saves exactly the typed bytes, while
# QT_PLUGIN_PATH and QT_QPA_PLATFORM_PLUGIN_PATH, set where Windows keeps
# them, name a foreign platform plugin, as other programs' installers do:
# ours with an import nothing satisfies, as one built for another Qt fails.
unpack "$product_zip" "$work/empty"
mkdir -p "$work/empty/replay" "$work/foreign/platforms"
perl -0777 -pe 's/Qt6Gui\.dll/Qt6Gux.dll/g' "$work/empty/zarvik/platforms/qwindows.dll" \
  >"$work/foreign/platforms/qwindows.dll"
cmp -s "$work/empty/zarvik/platforms/qwindows.dll" "$work/foreign/platforms/qwindows.dll" &&
  display_fail "could not make the foreign plugin"
set_user_variable() { display_run 120 "setting $1" wine reg add 'HKCU\Environment' /v "$1" /d "$2" /f; }
clear_user_variable() { display_run 120 "clearing $1" wine reg delete 'HKCU\Environment' /v "$1" /f; }
set_user_variable QT_PLUGIN_PATH "Z:$work/foreign"
set_user_variable QT_QPA_PLATFORM_PLUGIN_PATH "Z:$work/foreign/platforms"
display_open_main "$work/empty.out" "$work/empty/zarvik" wine zarvik.exe
program=$display_pid main=$display_main
display_enter_token "$main" "$program" 'wine-Token_42'
printf 'wine-Token_42' | cmp -s - "$work/empty/zarvik/token.txt" ||
  display_fail "token.txt holds '$(cat "$work/empty/zarvik/token.txt")'"
display_close_program "$main" "$program" "the program"
clear_user_variable QT_PLUGIN_PATH
clear_user_variable QT_QPA_PLATFORM_PLUGIN_PATH
ok "a foreign plugin on QT_PLUGIN_PATH is ignored; the token dialog saves the typed bytes; closing the window exits with 0"

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

# run_scan NAME DIR LOG STATUS COMMAND...: presses send in the program
# started in DIR, waits until the score service (logging to LOG) answered
# the $replays replays with STATUS, and closes it, with no error box.
run_scan() {
  local name=$1 dir=$2 log=$3 status=$4
  shift 4
  display_open_main "$work/$name.out" "$dir" "$@"
  display_click_send "$display_main"
  display_wait_until "[ \"\$(score_service_answered '$log' $status)\" -ge $replays ]" \
    "$replays answers of $status"
  display_close_program "$display_main" "$display_pid" "$name"
}

score_service_start "$linux_build" "$work/linux.log"
run_scan linux "$game/linux" "$work/linux.log" 200 ./zarvik-local
score_service_stop
sort "$work/linux.log" >"$work/linux.reports"

score_service_start "$linux_build" "$work/windows.log"
run_scan windows "$game/zarvik" "$work/windows.log" 200 wine zarvik.exe
sort "$work/windows.log" >"$work/windows.reports"
[ "$(wc -l <"$work/windows.reports")" -eq "$replays" ] ||
  display_fail "$(wc -l <"$work/windows.reports") reports for $replays replays"
cmp -s "$work/linux.reports" "$work/windows.reports" ||
  display_fail "the Windows reports differ from the Linux ones: $(diff "$work/linux.reports" "$work/windows.reports" | head -n 4)"
grep -q '"token":"şifre \\"ü\\\\gizli"' "$work/windows.reports" || display_fail "the token was not sent as saved"
ok "$replays replays below ゲーム (one named リプレイ_01.rpy) reported exactly as on Linux"

# The same replays again: the service knows them, and 409 shows nothing.
run_scan windows-again "$game/zarvik" "$work/windows.log" 409 wine zarvik.exe
score_service_stop
ok "a second send is answered with 409 and shows no box"

# 4. No service, and one replay held open, unshared, by another program: one
# box per other replay, and the held one named on standard error byte for
# byte: the path in UTF-8 with Windows' separator escaped, and Windows'
# line break.
held=リプレイ_01.rpy
display_spawn "$work/hold.out" "$game/replay" \
  wine "$helpers/zarvik_hold_file.exe" "$held" "$(winepath -w "$work/release")"
holder=$display_pid
display_wait_until "grep -qs held '$work/hold.out'" "the replay to be held open"
# Standard error alone, apart from "Decompression done." on standard output.
display_open_main "$work/held.out" "$game/zarvik" sh -c 'exec wine zarvik.exe 2>"$1"' sh "$work/held.err"
program=$display_pid main=$display_main
display_click_send "$main"
refused='Replay gönderilemedi: Skor sunucusuna bağlanılamadı. Lütfen biraz sonra yeniden deneyin. (curl 7)'
for ((shown = 0; shown < replays - 1; shown++)); do
  box=$(display_wait_window Hata "$program")
  box_text "$box"
  [ "$box_text" = "$refused" ] || display_fail "box $((shown + 1)) reads '$box_text'"
  display_dismiss "$box"
done
# None for the held replay.
display_close_program "$main" "$program" "the program"
: >"$work/release"
display_wait_exit "$holder" "the helper to let the replay go"
printf 'Error: Could not open file "../replay\\\\%s"\r\n' "$held" >"$work/held.expected"
cmp -s "$work/held.expected" "$work/held.err" ||
  display_fail "standard error holds '$(cat -A "$work/held.err")', expected '$(cat -A "$work/held.expected")'"
ok "no service: $((replays - 1)) boxes read '$refused'; the held $held is named on standard error"

# 5. OPENSSL_CONF names a file that would break every handshake, and
# SSLKEYLOGFILE asks for the TLS keys: the program reads neither.
cat >"$work/breaks-tls.cnf" <<'CNF'
openssl_conf = openssl_init
[openssl_init]
ssl_conf = ssl_configuration
[ssl_configuration]
system_default = tls_defaults
[tls_defaults]
# The test service's certificate is ECDSA: offered only RSA signatures, it
# completes no handshake.
SignatureAlgorithms = RSA+SHA256
CNF
set_user_variable OPENSSL_CONF "$(winepath -w "$work/breaks-tls.cnf")"
set_user_variable SSLKEYLOGFILE "$(winepath -w "$work/tls-keys.log")"
score_service_start "$linux_build" "$work/configured.log"
run_scan configured "$game/zarvik" "$work/configured.log" 200 wine zarvik.exe
score_service_stop
[ ! -e "$work/tls-keys.log" ] || display_fail "SSLKEYLOGFILE was obeyed: the TLS keys are in tls-keys.log"
clear_user_variable OPENSSL_CONF
clear_user_variable SSLKEYLOGFILE
ok "OPENSSL_CONF and SSLKEYLOGFILE are ignored: $replays replays sent, no key log written"

