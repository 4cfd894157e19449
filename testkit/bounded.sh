#!/usr/bin/env bash
# bounded.sh SECONDS COMMAND...: runs COMMAND in a process group of its own,
# stopped (TERM, then KILL a minute later) after SECONDS, saying so, or when
# this script is stopped (ctest out of time, Ctrl+C), so that nothing it
# started is left running.
set -uo pipefail
# shellcheck source=scripts/lib/processes.sh
source "$(dirname "$0")/../scripts/lib/processes.sh"
seconds=$1
shift
set -m
"$@" &
child=$!
set +m
trap 'stop_group "$child" 60; exit 143' TERM INT HUP
deadline=$((SECONDS + seconds))
while process_alive "$child"; do
  if [ "$SECONDS" -ge "$deadline" ]; then
    echo "bounded: '$*' did not finish within $seconds s" >&2
    stop_group "$child" 60
    exit 124
  fi
  sleep 1
done
wait "$child"
