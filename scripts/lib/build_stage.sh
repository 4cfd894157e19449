# shellcheck shell=bash
# stage NAME COMMAND...: one stage of a long build, run unless it finished
# before (its marker .done-NAME in $work), its output added to $log, its
# progress said (by `say`) once a minute. One that fails stops the script,
# showing the end of the log; run again, the build resumes there. One still
# running when the script ends, however it ends, is stopped with its group.
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
  local name=$1 started=$SECONDS done_marker="$work/.done-${1// /-}" status=0
  shift
  if [ -f "$done_marker" ]; then
    say "$name: done before"
    return
  fi
  touch "$work/.stage-started"
  # Job control on for the start: a process group of its own.
  set -m
  "$@" >>"$log" 2>&1 &
  stage_pid=$!
  set +m
  while ! wait_a_minute_for "$stage_pid"; do
    say "$name: $(progress_of)after $(((SECONDS - started) / 60)) min"
  done
  wait "$stage_pid" || status=$?
  stage_pid=
  if [ "$status" -ne 0 ]; then
    say "$name failed (status $status) after $((SECONDS - started)) s; run again, it resumes there; the last lines of $log:"
    tail -n 30 "$log" >&2
    exit 1
  fi
  touch "$done_marker"
  say "$name: $((SECONDS - started)) s"
}
stage_pid=
stop_stage() { [ -z "$stage_pid" ] || stop_group "$stage_pid"; }
# shellcheck source=scripts/lib/on_exit.sh
source "$(dirname "${BASH_SOURCE[0]}")/on_exit.sh"
# shellcheck source=scripts/lib/processes.sh
source "$(dirname "${BASH_SOURCE[0]}")/processes.sh"
on_exit stop_stage
# True once process $1 has ended, false when a minute passed first.
wait_a_minute_for() {
  for _ in $(seq 60); do
    process_alive "$1" || return 0
    sleep 1
  done
  ! process_alive "$1"
}
