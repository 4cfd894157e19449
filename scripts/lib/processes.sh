# shellcheck shell=bash
# Stopping what a script started, sourced by the scripts and the test kit.

# process_alive PID: true while PID runs; a zombie, which only waits for its
# parent to read its status, is not alive.
process_alive() {
  local state
  state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) && [ -n "$state" ] && [ "$state" != Z ]
}

# stop_group LEADER [SECONDS]: stops the process group that LEADER leads,
# and LEADER itself should it not have made its group yet, and returns once
# none of them is alive: TERM first, so that each can clean up, then KILL
# to what is left after SECONDS (5 unless given). Stopping a group already
# stopped does nothing. Fails, naming them, when some still run after KILL.
stop_group() {
  local leader=$1 grace=${2:-5} tenths signal
  for signal in TERM KILL; do
    kill "-$signal" -- "-$leader" 2>/dev/null || kill "-$signal" "$leader" 2>/dev/null || return 0
    for ((tenths = grace * 10; tenths > 0; tenths--)); do
      _group_alive "$leader" || return 0
      sleep 0.1
    done
    grace=10
  done
  echo "stop_group: what process group $leader started still runs after KILL:" >&2
  ps -e -o pgid=,pid=,stat=,args= | awk -v group="$leader" '$1 == group || $2 == group' >&2
  return 1
}

_group_alive() {
  ps -e -o pgid=,pid=,stat= |
    awk -v group="$1" '($1 == group || $2 == group) && $3 !~ /^Z/ { found = 1 } END { exit !found }'
}
