#!/usr/bin/env bash
# The main job on a built-in demo (tools/run_demo.sh), from a build of its own
# without the test suites. --auto: it presses the buttons itself, on a virtual
# display of its own, and closes the window when the job is done.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" demo

if [ "${1:-}" != --auto ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
Zarvik is a desktop program and there is no display here to show its window.
Run it on a virtual display of its own instead; it then presses the buttons
itself:

    bash scripts/demo.sh --auto
MSG
  exit 1
fi

cd "$root"
cmake --fresh --preset demo >/dev/null
cmake --build --preset demo
exec "$root/tools/run_demo.sh" "$root/build-demo" "$@"
