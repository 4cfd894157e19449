#!/usr/bin/env bash
# Builds both packages (scripts/windows.sh, scripts/linux.sh) with a local CA
# planted in this machine's trust store, rebuilds each from its commit with
# the CA still planted, which must give the same bytes, and with the CA
# gone reads them as they ship (tests/system: labels "rebuild", "package").
# A tree with changes not committed cannot pass: the rebuild check refuses a
# package built from one, as no rebuild of a commit can promise its bytes.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
local_ca="$root/scripts/check/local_ca.sh"
# However this step ends, the planted CA goes.
unplant() { "$local_ca" unplant; }
source "$root/scripts/lib/on_exit.sh"
on_exit unplant

"$local_ca" plant
"$root/scripts/windows.sh"
"$root/scripts/linux.sh"
zip=$(ls "$root"/build-win64/zarvik-*-win64.zip)
tgz=$(ls "$root"/build-linux/zarvik-*-Linux.tar.gz)
cmake -S "$root/tests/system" -B "$root/build-system" -G Ninja \
  -DZARVIK_WINDOWS_ZIP="$zip" -DZARVIK_LINUX_TGZ="$tgz" >/dev/null
ctest --test-dir "$root/build-system" -L '^rebuild$' --no-tests=error --verbose
"$local_ca" unplant
ctest --test-dir "$root/build-system" -L '^package$' --no-tests=error --verbose
