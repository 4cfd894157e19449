#!/usr/bin/env bash
# Builds the Linux program and packs the player's folder as
# BUILD/zarvik-<version>-Linux.tar.gz: one top folder "zarvik" holding the
# program, cacert.pem, the licence texts and the build record, with the
# package's checksum and build record beside it. The program uses the
# system's Qt 6, libcurl and OpenSSL.
#   linux.sh [--build-dir BUILD] [CMake options...]
# BUILD defaults to build-linux; CMake options go to the configure step, for
# example -DZARVIK_UPLOAD_URL=https://scores.example.org/upload/th10.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/pack.sh"
pack_start "$root" linux "$@"
"$root/scripts/setup.sh" linux

pack_build
pack_stage --strip

components=(
  "zarvik|$version|MIT|zarvik"
  "$(pack_debian_source qt6-translations-l10n)|$pack_qt_licence|qtbase_tr.qm, built into zarvik"
)
pack_components "$folder/licenses/components.spdx" "zarvik-$version-Linux" "$build" "${components[@]}"

archive="$build/zarvik-$version-Linux.tar.gz"
mapfile -t system_files <"$build/system-files.txt"
{
  buildinfo_linux_libraries
  buildinfo_packages "${system_files[@]}"
  buildinfo_tools linux
} | pack_record "$folder/licenses/buildinfo.txt" "$(basename "$archive")" scripts/linux.sh
pack_normalise "$folder" "$SOURCE_DATE_EPOCH"
pack_tgz "$staging" zarvik "$archive"
pack_checksum "$archive" "$folder"
echo "linux: $archive"
