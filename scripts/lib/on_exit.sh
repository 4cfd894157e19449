# shellcheck shell=bash
# on_exit FUNCTION: runs FUNCTION once as the script ends, however it ends:
# done, failed, or stopped by HUP, INT or TERM (status 129, 130 or 143).
# FUNCTION gets that status as its argument; the script ends with it,
# unless FUNCTION calls exit with another.
#
# A stopped script is often signalled twice: timeout signals its child and
# then the child's whole process group, and a terminal's Ctrl+C reaches the
# whole foreground group. A second signal used to end the script in the
# middle of FUNCTION, leaving half of its clean-up undone (a temporary git
# worktree still registered, a folder left behind). So while FUNCTION runs
# those signals are ignored, by the script and the commands FUNCTION starts,
# and a failing command in it does not end it early.
on_exit() {
  # shellcheck disable=SC2064 # the function's name is fixed here, on purpose
  trap "_on_exit_run $1" EXIT
  trap 'exit 129' HUP
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

_on_exit_run() {
  local status=$?
  trap '' HUP INT TERM USR1
  set +e
  "$1" "$status"
  exit "$status"
}
