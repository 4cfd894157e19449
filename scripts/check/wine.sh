#!/usr/bin/env bash
# The Windows program tested from its ZIP under Wine (tests/system: label
# "wine"): the package players download, which scripts/windows.sh (or the
# packages step) built in build-win64 before, and the same program built
# here to report to the local score service of the Linux build in build
# (the suite step), with the test-only Windows programs beside it.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=testkit/score_service.sh
source "$root/testkit/score_service.sh"
port=$(score_service_port_of "$root/build")
zip=$(ls "$root"/build-win64/zarvik-*-win64.zip 2>/dev/null) || {
  echo "check: no package in build-win64; build it first with scripts/windows.sh" >&2
  exit 1
}
local_build="$root/build-win64-local"
"$root/scripts/windows.sh" --build-dir "$local_build" \
  -DZARVIK_UPLOAD_URL="https://localhost:$port/upload/th10" -DZARVIK_BUILD_WINDOWS_TEST_HELPERS=ON
# The test's own Windows program, built beside the local one and never packed.
cmake --build "$local_build" --target zarvik_windows_test_helpers
cmake -S "$root/tests/system" -B "$root/build-system" -G Ninja -DZARVIK_WINDOWS_ZIP="$zip" \
  -DZARVIK_WINDOWS_LOCAL_ZIP="$(ls "$local_build"/zarvik-*-win64.zip)" \
  -DZARVIK_WINDOWS_TEST_HELPERS="$local_build/testkit" -DZARVIK_LINUX_BUILD="$root/build" >/dev/null
ctest --test-dir "$root/build-system" -L '^wine$' --no-tests=error --verbose
