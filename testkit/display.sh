# shellcheck shell=bash
# Drives real programs on a private virtual X display as a person would
# (sourced by scripts run with `set -euo pipefail`). Every wait is bounded by
# display_timeout seconds (60 unless raised: Wine is slower). On a failure
# the script stops with "NAME: FAIL: what it waited for" and the end of the
# output of every program it started, and all of them are stopped;
# display_at_exit COMMAND runs COMMAND then, before the X server stops.
# display_work is the script's own folder, removed at exit.
display_name=${0##*/}
display_timeout=60
display_work=$(mktemp -d)
display_pids=()
declare -A display_commands=()
display_logs=()
display_exit_hooks=()
display_wm_pid=
display_server_pid=

# Any X client blocks for good on a server that stopped answering.
_display_x() {
  timeout 20 "$@" || display_fail "'$*' failed or did not finish within 20 s"
}

_display_show_output() {
  local log
  if [ -n "$display_wm_pid" ]; then
    echo "---- windows on the display" >&2
    timeout 20 wmctrl -l >&2 2>/dev/null || true
  fi
  for log in "${display_logs[@]}"; do
    [ -s "$log" ] || continue
    echo "---- last lines of $log" >&2
    tail -n 25 "$log" >&2
  done
}

display_fail() {
  echo "$display_name: FAIL: $*" >&2
  if [ ! -e "$display_work/.failed" ]; then
    : >"$display_work/.failed"
    _display_show_output
  fi
  # From inside $(...) the script itself must stop too, not only the subshell.
  if [ "$BASHPID" != "$$" ]; then
    kill -USR1 "$$"
  fi
  exit 1
}

# shellcheck source=scripts/lib/processes.sh
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib/processes.sh"

_display_cleanup() {
  local status=$1 i ended
  if [ "$status" -ne 0 ] && [ ! -e "$display_work/.failed" ]; then
    echo "$display_name: FAIL: stopped with status $status" >&2
    _display_show_output
  fi
  # On a failure, a program that ended unwaited for is said with its exit
  # status: the failure itself may only show that its window never came.
  for i in "${display_pids[@]}"; do
    [ "$status" -ne 0 ] || break
    process_alive "$i" && continue
    ended=0
    wait "$i" 2>/dev/null || ended=$?
    echo "---- ended with status $ended: ${display_commands[$i]:-}" >&2
  done
  for ((i = ${#display_pids[@]} - 1; i >= 0; i--)); do
    stop_group "${display_pids[i]}"
  done
  for ((i = ${#display_exit_hooks[@]} - 1; i >= 0; i--)); do
    eval "${display_exit_hooks[i]}"
  done
  [ -n "$display_wm_pid" ] && stop_group "$display_wm_pid"
  [ -n "$display_server_pid" ] && stop_group "$display_server_pid"
  rm -rf "$display_work"
  exit "$status"
}
# shellcheck source=scripts/lib/on_exit.sh
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib/on_exit.sh"
on_exit _display_cleanup
trap 'exit 1' USR1

display_at_exit() { display_exit_hooks+=("$1"); }
# shellcheck source=testkit/checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

# display_spawn LOG DIR COMMAND...: starts COMMAND in DIR, its output in LOG
# (shown on failure); sets display_pid.
display_spawn() {
  local log=$1 dir=$2
  shift 2
  # A process group of its own, so that stopping it stops what it started.
  (cd "$dir" && exec setsid "$@") >"$log" 2>&1 &
  display_pid=$!
  display_pids+=("$display_pid")
  display_commands[$display_pid]="$*"
  display_logs+=("$log")
}

# display_run SECONDS WHAT COMMAND...: runs COMMAND for at most SECONDS.
display_run() {
  local seconds=$1 what=$2 log status=0
  shift 2
  log="$display_work/run-${#display_logs[@]}.out"
  display_logs+=("$log")
  timeout "$seconds" "$@" >"$log" 2>&1 || status=$?
  [ "$status" -ne 124 ] || display_fail "$what did not finish within $seconds s"
  [ "$status" -eq 0 ] || display_fail "$what failed with status $status"
}

# Without it nothing could close a window: every wait checks for it.
_display_check_wm() {
  if [ -n "$display_wm_pid" ] && ! process_alive "$display_wm_pid"; then
    display_fail "the window manager (openbox) has exited: $(tail -n 5 "$display_work/openbox.out")"
  fi
}

# display_wait_until CONDITION WHAT: CONDITION is evaluated until it holds.
display_wait_until() {
  local deadline=$((SECONDS + display_timeout))
  until eval "$1"; do
    _display_check_wm
    [ "$SECONDS" -lt "$deadline" ] || display_fail "timed out after $display_timeout s waiting for $2"
    sleep 0.2
  done
}

# display_wait_exit PID WHAT: sets display_exit_code once PID ended.
display_wait_exit() {
  local pid=$1 i
  display_wait_until "! process_alive $pid" "$2"
  display_exit_code=0
  wait "$pid" || display_exit_code=$?
  for i in "${!display_pids[@]}"; do
    [ "${display_pids[i]}" != "$pid" ] || unset 'display_pids[i]'
  done
  display_pids=("${display_pids[@]}")
}

# Without one of these no display can be made or driven: the script cannot
# run here, which it says as a skip (exit 77, ctest's SKIP_RETURN_CODE) that
# names what is missing, never as a pass or a failure.
_display_require_tools() {
  local tool missing=()
  for tool in Xvfb xauth xdotool openbox wmctrl; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "$display_name: SKIPPED: no ${missing[*]} on PATH (bash scripts/setup.sh demo installs what is missing)" >&2
  : >"$display_work/.failed" # said already: no FAIL line at exit
  exit 77
}

# display_start NAME: an X server of its own (Xvfb on a free display number,
# with a cookie) managed by openbox; NAME prefixes the messages.
display_start() {
  display_name=$1
  _display_require_tools
  local auth="$display_work/Xauthority" cookie number=

  # Without -noreset the server resets when its last client leaves, dropping
  # one that connects meanwhile. A cookie added for :0 holds for the number
  # Xvfb picks, as it loads every cookie in the file.
  cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
  : >"$auth"
  xauth -q -f "$auth" add :0 MIT-MAGIC-COOKIE-1 "$cookie"
  Xvfb -displayfd 3 -noreset -nolisten tcp -auth "$auth" -screen 0 1280x1024x24 \
    3>"$display_work/display-number" >"$display_work/xvfb.out" 2>&1 &
  display_server_pid=$!
  display_wait_until '_display_server_ready' "the X server (Xvfb) to start"
  number=$(head -n 1 "$display_work/display-number")
  xauth -q -f "$auth" add ":$number" MIT-MAGIC-COOKIE-1 "$cookie"
  export DISPLAY=":$number" XAUTHORITY="$auth" QT_QPA_PLATFORM=xcb
  display_runtime_folder

  openbox >"$display_work/openbox.out" 2>&1 &
  display_wm_pid=$!
  display_wait_until '[[ "$(timeout 20 wmctrl -m 2>/dev/null)" == *"Name: Openbox"* ]]' \
    "the window manager (openbox) to manage the display"
}

# Qt wants a runtime folder of the user's own, and warns without one.
display_runtime_folder() {
  mkdir -m 700 "$display_work/runtime"
  export XDG_RUNTIME_DIR="$display_work/runtime"
}

_display_server_ready() {
  process_alive "$display_server_pid" ||
    display_fail "the X server (Xvfb) exited before it was ready: $(tail -n 5 "$display_work/xvfb.out")"
  grep -q -s '^[0-9][0-9]*$' "$display_work/display-number"
}

# display_windows TITLE: the visible windows titled TITLE.
display_windows() {
  local found attempt
  for attempt in 1 2 3 4 5; do
    found=$(timeout 20 xdotool search --onlyvisible --name "^$1\$" 2>&1) || true
    if [[ "$found" != *"X Error"* ]]; then
      grep -x '[0-9][0-9]*' <<<"$found" || true
      return 0
    fi
    # xdotool gives up when a window goes away as it looks (BadWindow): one Wine test in four or five.
    echo "$display_name: xdotool's search lost a window that went away; searching again" >&2
  done
  display_fail "xdotool failed $attempt times to list the windows titled '$1': $found"
}

# Managed: in the window manager's client list, which wmctrl prints in hex.
_display_managed() {
  local hex
  printf -v hex '0x%08x' "$1"
  timeout 20 wmctrl -l 2>/dev/null | awk '{print $1}' | grep -q -x "$hex"
}

# display_wait_window TITLE [PID [--may-end]]: prints the id of a visible
# window titled TITLE that openbox manages; fails early if PID ends first,
# or with --may-end returns 3 then.
display_wait_window() {
  local title=$1 pid=${2:-} deadline=$((SECONDS + display_timeout)) id seen=
  while :; do
    for id in $(display_windows "$title"); do
      seen=$id
      if _display_managed "$id"; then
        echo "$id"
        return 0
      fi
    done
    _display_check_wm
    if [ -n "$pid" ] && ! process_alive "$pid"; then
      [ "${3:-}" != --may-end ] || return 3
      display_fail "the program ended before showing a window titled '$title'"
    fi
    if [ "$SECONDS" -ge "$deadline" ]; then
      [ -z "$seen" ] || display_fail "a window titled '$title' is showing, but openbox does not manage it"
      display_fail "timed out after $display_timeout s waiting for a window titled '$title'"
    fi
    sleep 0.2
  done
}

_display_visible() { display_windows '.*' | grep -q -x "$1"; }

# _display_until_gone ID WHAT BANNED COMMAND...: runs COMMAND while window ID
# shows, every 10 s (a key or close request that reaches a window just mapped
# can be lost under Wine; 10 s, so that a second one cannot reach a window
# behind it); a window titled BANNED showing meanwhile fails the script.
_display_until_gone() {
  local id=$1 what=$2 banned=$3 deadline=$((SECONDS + display_timeout)) next=0
  shift 3
  while _display_visible "$id"; do
    _display_check_wm
    if [ -n "$banned" ] && [ -n "$(display_windows "$banned")" ]; then
      display_fail "a box titled $banned is showing while waiting for $what"
    fi
    [ "$SECONDS" -lt "$deadline" ] || display_fail "timed out after $display_timeout s waiting for $what"
    if [ "$SECONDS" -ge "$next" ]; then
      timeout 20 "$@" >/dev/null 2>&1 || true # it may go away at any moment
      next=$((SECONDS + 10))
    fi
    sleep 0.2
  done
}

# display_dismiss ID: presses Return in box ID until it is gone.
display_dismiss() {
  _display_until_gone "$1" "box $1 to close on Return" "" xdotool windowfocus --sync "$1" key Return
}

# display_press_keys ID KEY...: --sync waits, without a bound of its own,
# until the window has the focus.
display_press_keys() { _display_x xdotool windowfocus --sync "$1" key "${@:2}"; }

# The main window's layout: the token button above the send button.
display_main_size=400x100
display_click_token() { _display_x xdotool mousemove --window "$1" 200 30 click 1; }
display_click_send() { _display_x xdotool mousemove --window "$1" 200 72 click 1; }

# display_open_main LOG DIR COMMAND...: display_spawn, then waits for the
# main window; sets display_main. Only it has this size: Qt's box for a
# plugin that fails to load is titled "zarvik", which the search also finds.
display_open_main() {
  local size attempt
  for attempt in 1 2; do
    display_spawn "$@"
    display_main=$(display_wait_window Zarvik "$display_pid" --may-end) && break
    display_wait_exit "$display_pid" "the program to end"
    # Wine ended one start in about seventy under load so, silently, before any window: once more.
    [ "$attempt" -eq 1 ] && [ "$display_exit_code" -eq 1 ] && [[ "$*" == *wine* ]] ||
      display_fail "the program ended with status $display_exit_code before showing a window titled 'Zarvik'"
    echo "$display_name: '${*:3}' ended with status 1 before showing its window; starting it once more" >&2
  done
  size=$(_display_x xdotool getwindowgeometry "$display_main" | awk '/Geometry/ {print $2}')
  [ "$size" = "$display_main_size" ] ||
    display_fail "the window titled Zarvik is $size, not the main window's $display_main_size"
}

# display_enter_token MAIN PID TOKEN: through "Token Girin", closing the
# "Kaydedildi" box that follows.
display_enter_token() {
  local main=$1 program=$2 token=$3 dialog
  display_click_token "$main"
  display_wait_until '[ "$(display_windows Zarvik | wc -l)" -ge 2 ]' "the token dialog"
  dialog=$(display_windows Zarvik | grep -v -x "$main" | head -n 1)
  _display_x xdotool windowfocus --sync "$dialog" type --delay 30 "$token"
  display_press_keys "$dialog" Return
  display_dismiss "$(display_wait_window Kaydedildi "$program")"
}

# display_close_program MAIN PID WHAT: closes the window as a person would.
# Qt takes the request only after a send and its boxes, so a program that
# ends on it has shown no error box, and one that shows one fails here.
display_close_program() {
  local main=$1 program=$2 what=$3
  _display_until_gone "$main" "the main window of $what to close through the window manager" Hata \
    wmctrl -i -c "$main"
  display_wait_exit "$program" "$what to end once its window was closed"
  [ "$display_exit_code" -eq 0 ] || display_fail "exit code $display_exit_code after closing the window of $what"
}

# display_expect_missing_replay_folder DIR COMMAND...: in DIR, whose game
# folder lacks its replay folder, one error box, no window, exit code -1.
display_expect_missing_replay_folder() {
  local dir=$1 program box
  shift
  display_spawn "$display_work/missing-replay-folder.out" "$dir" "$@"
  program=$display_pid
  box=$(display_wait_window Hata "$program")
  [ "$(display_windows Hata | wc -l)" -eq 1 ] || display_fail "more than one box"
  [ -z "$(display_windows Zarvik)" ] || display_fail "window shown despite the missing replay folder"
  display_dismiss "$box"
  display_wait_exit "$program" "the program to end once its box was closed"
  [ "$display_exit_code" -eq 255 ] || display_fail "exit code $display_exit_code, expected -1 (255)"
}

# score_service_start BUILD LOG [KNOBS...]: the local score service of the
# Linux build tree BUILD, on the port its zarvik-local reports to, once it
# listens; the reports it accepts go to LOG, one a line, its request log to
# LOG.requests. Sets score_service_pid.
score_service_start() {
  local log=$2
  "$1/tools/zarvik-score-service" "${@:3}" >"$log" 2>"$log.requests" &
  score_service_pid=$!
  display_pids+=("$score_service_pid")
  display_commands[$score_service_pid]="the score service"
  display_logs+=("$log.requests")
  # One that cannot listen (another holds the port) exits at once, saying why.
  display_wait_until "grep -qs ' listening on ' '$log.requests' || ! process_alive $score_service_pid" \
    "the score service to listen"
  process_alive "$score_service_pid" || display_fail "the score service did not start"
}
# score_service_answered LOG STATUS: how many requests it answered so.
score_service_answered() { grep -c -- "-> $2\$" "$1.requests" || true; }
score_service_stop() { stop_group "$score_service_pid"; }
