#!/usr/bin/env bash
# bounded.sh SECONDS COMMAND...: runs COMMAND, given TERM after SECONDS (so
# that it can stop what it started) and KILL a minute later, and says so.
set -uo pipefail
seconds=$1
shift
timeout --kill-after=60 "$seconds" "$@" &
child=$!
# timeout runs COMMAND in a process group of its own, which a signal to this
# one (ctest stopped, Ctrl+C) does not reach: it is passed on, and timeout
# hands it to the whole group, so that nothing is left running.
trap 'kill -TERM "$child" 2>/dev/null' TERM INT HUP
# A trapped signal ends a wait early; the child is waited for to its end.
status=0
while wait "$child"; status=$?; kill -0 "$child" 2>/dev/null; do :; done
case "$status" in
  124 | 137) echo "bounded: '$*' did not finish within $seconds s" >&2 ;;
esac
exit "$status"
