# shellcheck shell=bash
# The local score service of a Linux build tree, for scripts that drive the
# program with testkit/display.sh (sourced first: the service is started,
# waited for and stopped as every other program there).
#
#   score_service_port_of BUILD        Prints BUILD's loopback port
#                            (ZARVIK_LOCAL_PORT in its CMake cache), or says
#                            that it has none and fails. Needs nothing else,
#                            so that a script without a display can use it.
#   score_service_init BUILD Reads BUILD's port once; sets score_service_port.
#   score_service_start LOG [KNOBS...] Starts the service (KNOBS such as
#                            --status 500) and waits until it listens; the
#                            reports it accepts go to LOG, one line each, and
#                            its request log to LOG.requests. Sets
#                            score_service_pid.
#   score_service_answered LOG STATUS  How many requests it answered with STATUS.
#   score_service_stop       Stops it.

score_service_port_of() {
  local port
  port=$(sed -n 's/^ZARVIK_LOCAL_PORT:[A-Z]*=//p' "$1/CMakeCache.txt" 2>/dev/null || true)
  if [ -z "$port" ]; then
    echo "no ZARVIK_LOCAL_PORT in $1/CMakeCache.txt" >&2
    return 1
  fi
  echo "$port"
}

score_service_init() {
  score_service_build=$(cd "$1" && pwd)
  score_service_port=$(score_service_port_of "$score_service_build") ||
    display_fail "no ZARVIK_LOCAL_PORT in $1/CMakeCache.txt"
}

score_service_start() {
  local log=$1 certs="$score_service_build/tools/test-certs"
  shift
  "$score_service_build/tools/zarvik-score-service" --port "$score_service_port" \
    --cert "$certs/server.pem" --key "$certs/server.key" "$@" >"$log" 2>"$log.requests" &
  score_service_pid=$!
  display_pids+=("$score_service_pid")
  display_logs+=("$log.requests")
  # One that cannot listen (another holds the port) exits at once, saying why.
  display_wait_until "grep -qs ' listening on ' '$log.requests' || ! _display_alive $score_service_pid" \
    "the score service to listen on port $score_service_port"
  _display_alive "$score_service_pid" || display_fail "the score service did not start"
}

score_service_answered() { grep -c -- "-> $2\$" "$1.requests" || true; }

score_service_stop() {
  _display_stop "$score_service_pid"
  wait "$score_service_pid" 2>/dev/null || true
}
