#!/usr/bin/env bash
# bounded.sh SECONDS COMMAND...: runs COMMAND, given TERM after SECONDS (so
# that it can stop what it started) and KILL a minute later, and says so.
set -uo pipefail
seconds=$1
shift
timeout --kill-after=60 "$seconds" "$@"
status=$?
case "$status" in
  124 | 137) echo "bounded: '$*' did not finish within $seconds s" >&2 ;;
esac
exit "$status"
