#!/usr/bin/env bash
# stop_group (scripts/lib/processes.sh) on real process groups, each stopped
# twice: one that cleans up on TERM, and one whose leader and child ignore
# TERM; a process of another group beside them must live on.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/processes.sh"
# shellcheck source=testkit/checks.sh
source "$root/testkit/checks.sh"
work=$(mktemp -d)
bystander=
clean_up() {
  [ -z "$bystander" ] || stop_group "$bystander"
  rm -rf "$work"
}
source "$root/scripts/lib/on_exit.sh"
on_exit clean_up
# members GROUP: its processes that are not zombies, as ps sees them.
members() { ps -e -o pgid=,pid=,stat= | awk -v group="$1" '$1 == group && $3 !~ /^Z/ { print $2 }'; }

# start NAME SCRIPT: bash runs SCRIPT as the leader of a group of its own,
# which is waited for (10 s at most) until SCRIPT touches $work/NAME.ready.
start() {
  set -m
  work=$work bash -c "$2" &
  leader=$!
  set +m
  for _ in $(seq 100); do
    [ ! -e "$work/$1.ready" ] || return 0
    sleep 0.1
  done
  fail "$1: the group did not start within 10 s"
}

set -m
sleep 300 &
bystander=$!
set +m
while IFS='|' read -r name script cleaned; do
  start "$name" "$script"
  [ "$(members "$leader" | wc -l)" -ge 2 ] || fail "$name: the group has fewer than two processes"
  stop_group "$leader" 1 || fail "$name: the first stop failed"
  [ -z "$(members "$leader")" ] || fail "$name: still running after the first stop: $(members "$leader")"
  stop_group "$leader" 1 || fail "$name: the second stop failed"
  [ "$cleaned" = no ] || [ -e "$work/$name.cleaned" ] || fail "$name: stopped without TERM first"
  process_alive "$bystander" || fail "$name: stopping it stopped another group's process too"
  { wait "$leader" || true; } 2>/dev/null # "Killed", for the group stopped so
  echo "ok: $name"
done <<'ROWS'
cleans up on TERM|trap 'touch "$work/cleans up on TERM.cleaned"; exit 0' TERM; sleep 300 & touch "$work/cleans up on TERM.ready"; wait|yes
ignores TERM, its child too|trap '' TERM; bash -c 'touch "$work/ignores TERM, its child too.ready"; while :; do sleep 0.1; done' & wait|no
ROWS
