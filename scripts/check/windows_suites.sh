#!/usr/bin/env bash
# The GoogleTest suites built for Windows and run under Wine
# (scripts/windows_tests.sh), on the loopback port of the Linux build in
# build (the suite step), so that a port chosen there holds here too.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=testkit/score_service.sh
source "$root/testkit/score_service.sh"
port=$(score_service_port_of "$root/build")
exec "$root/scripts/windows_tests.sh" -DZARVIK_LOCAL_PORT="$port"
