# shellcheck shell=bash
# stage NAME COMMAND...: one stage of a long build (configure, build,
# install), run unless it finished before (its marker .done-NAME in $work),
# its output added to $log, its progress said (by `say`) once a minute and
# its time at the end. One that fails is run once more, then the script
# stops, showing the end of the log. A stage still running when the script
# ends, however it ends, is stopped with its whole process group.
# shellcheck disable=SC2154 # work and log are the caller's (windows_toolchain.sh)

# The newest progress line a build tool wrote: ninja's "[done/total]", or
# for make, the number of objects compiled so far.
progress_of() {
  local line
  line=$(tr '\r' '\n' <"$log" | grep -o '^\[[0-9]*/[0-9]*\]' | tail -n 1 || true)
  if [ -n "$line" ]; then
    echo "step ${line//[\[\]]/} "
  else
    echo "$(find "$work" \( -name '*.o' -o -name '*.obj' \) -newer "$work/.stage-started" 2>/dev/null |
      wc -l) objects "
  fi
}

stage() {
  local name=$1 started=$SECONDS done_marker="$work/.done-${1// /-}" pid status attempt
  shift
  if [ -f "$done_marker" ]; then
    say "$name: done before"
    return
  fi
  touch "$work/.stage-started"
  # A loaded machine has been seen to fail a tool's start once ("spawn: No
  # such file or directory"); a stage that fails is run once more, picking
  # up where it stopped, before the build gives up.
  for attempt in 1 2; do
    # A process group of its own (job control on for the start), stopped
    # with this script however it ends.
    set -m
    "$@" >>"$log" 2>&1 &
    pid=$!
    set +m
    stage_pid=$pid
    while ! wait_a_minute_for "$pid"; do
      say "$name: $(progress_of)after $(((SECONDS - started) / 60)) min"
    done
    status=0
    wait "$pid" || status=$?
    [ "$status" -ne 0 ] && [ "$attempt" -eq 1 ] || break
    say "$name failed (status $status); trying once more where it stopped"
  done
  if [ "$status" -ne 0 ]; then
    say "$name failed after $((SECONDS - started)) s; the last lines of $log:"
    tail -n 30 "$log" >&2
    exit 1
  fi
  stage_pid=
  touch "$done_marker"
  say "$name: $((SECONDS - started)) s"
}
stage_pid=
stop_stage() {
  [ -z "$stage_pid" ] || kill -TERM -- "-$stage_pid" 2>/dev/null
}
# shellcheck source=scripts/lib/on_exit.sh
source "$(dirname "${BASH_SOURCE[0]}")/on_exit.sh"
on_exit stop_stage
# True once process $1 has ended, false when a minute passed first.
wait_a_minute_for() {
  for _ in $(seq 60); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 1
  done
  ! kill -0 "$1" 2>/dev/null
}
