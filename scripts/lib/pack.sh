# shellcheck shell=bash
# Packing the player's folder, sourced by the package scripts, so that two
# packs of the same commit give the same bytes; CPack's archives would carry
# the times and owners the install left, and extra fields.
# shellcheck source=scripts/lib/buildinfo.sh
source "$(dirname "${BASH_SOURCE[0]}")/buildinfo.sh"

# pack_source_date ROOT: every time stamp in a package, in seconds since
# 1970: SOURCE_DATE_EPOCH when the builder sets it, else the commit's time.
pack_source_date() {
  if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    echo "$SOURCE_DATE_EPOCH"
  elif ! git -C "$1" log -1 --format=%ct 2>/dev/null; then
    echo "pack: not a git checkout; set SOURCE_DATE_EPOCH to the release's time" >&2
    return 1
  fi
}

# pack_start ROOT PRESET ARGS...: sets `root`, `preset` (NAME from a leading
# "--preset NAME", else PRESET), `build` (BUILD from a leading "--build-dir
# BUILD", else ROOT/build-NAME) and `cmake_options` (the other ARGS), and
# exports SOURCE_DATE_EPOCH for the pack and the strip tool, which writes it
# into the programs' PE headers.
pack_start() {
  root=$1
  preset=$2
  shift 2
  if [ "${1:-}" = --preset ]; then
    preset=$2
    shift 2
  fi
  build="$root/build-$preset"
  if [ "${1:-}" = --build-dir ]; then
    build=$(realpath -m "$2")
    shift 2
  fi
  cmake_options=("$@")
  if [[ "${cmake_options[*]}" == *$'\n'* ]]; then
    echo "pack: a CMake option holds a line break, which the build record cannot hold" >&2
    return 1
  fi
  SOURCE_DATE_EPOCH=$(pack_source_date "$root")
  export SOURCE_DATE_EPOCH
}

# pack_build [CMAKE_ARGS...]: configures `build` with the preset, CMAKE_ARGS
# and `cmake_options`, builds it and sets `version`. Afresh, as a cache keeps
# every -D it was ever given: a release built in a folder once configured for
# a test service would report there.
pack_build() {
  (cd "$root" && cmake --fresh --preset "$preset" -B "$build" "$@" "${cmake_options[@]}" >/dev/null)
  cmake --build "$build"
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
}

# pack_stage [INSTALL_ARGS...]: installs the player's folder afresh as
# `folder`, below `staging`.
pack_stage() {
  staging="$build/package"
  # shellcheck disable=SC2034 # the package scripts' to fill
  folder="$staging/zarvik"
  rm -rf "$staging"
  cmake --install "$build" --prefix "$staging" "$@" >/dev/null
}

# pack_normalise FOLDER EPOCH: fixed modes and times on everything below it.
pack_normalise() {
  find "$1" -type d -exec chmod 755 {} +
  find "$1" -type f -exec chmod 644 {} +
  find "$1" -type f \( -name zarvik -o -iname '*.exe' -o -iname '*.dll' \) -exec chmod 755 {} +
  find "$1" -exec touch -h -d "@$2" {} +
}

# pack_zip STAGING FOLDER ZIP: STAGING/FOLDER as ZIP, FOLDER at its top, its
# times as UTC (a ZIP's times are local), without the owner and time extras.
pack_zip() {
  rm -f "$3"
  (cd "$1" && find "$2" -type f | LC_ALL=C sort | TZ=UTC zip -X -D -q -9 "$3" -@)
}

# pack_tgz STAGING FOLDER TGZ: the same as a gzipped tar, owned by root.
pack_tgz() {
  (cd "$1" && LC_ALL=C tar --sort=name --owner=0 --group=0 --numeric-owner --format=gnu \
    -cf - "$2") | gzip -9 -n >"$3"
}

# pack_record OUT PACKAGE_NAME SCRIPT: the build record of PACKAGE_NAME, made
# by SCRIPT (relative to ROOT), which scripts/rebuild_check.sh reads back; the
# inputs (see buildinfo.sh) are read from standard input.
pack_record() {
  local option commit
  {
    echo "Format: zarvik-buildinfo 1"
    echo "Package: $2"
    echo "Build-Command: $3"
    echo "Build-Preset: $preset"
    for option in "${cmake_options[@]}"; do
      echo "Build-Option: $option"
    done
    if commit=$(git -C "$root" rev-parse --verify -q HEAD 2>/dev/null); then
      echo "Commit: $commit"
      if [ -z "$(git -C "$root" status --porcelain 2>/dev/null)" ]; then
        echo "Tree: clean"
      else
        echo "Tree: dirty (changes not committed)"
      fi
    else
      echo "Commit: none (not a git checkout)"
    fi
    echo "Source-Date-Epoch: $SOURCE_DATE_EPOCH"
    cat "$build/build-settings.txt"
    cat
  } >"$1"
}

# pack_checksum FILE FOLDER: beside FILE, FILE.sha256 as sha256sum -c reads
# it, FILE.buildinfo (FOLDER's build record with FILE's checksum added) and
# FILE.spdx (FOLDER's list of components), for where the package is published.
pack_checksum() {
  (cd "$(dirname "$1")" && sha256sum "$(basename "$1")" >"$(basename "$1").sha256")
  { cat "$2/licenses/buildinfo.txt" && echo "Checksum-SHA256: $(cut -d ' ' -f 1 "$1.sha256") $(basename "$1")"; } \
    >"$1.buildinfo"
  cp "$2/licenses/components.spdx" "$1.spdx"
}

# Qt's licence, for its libraries and its translations.
# shellcheck disable=SC2034 # the package scripts' to use
pack_qt_licence="LGPL-3.0-only OR GPL-2.0-only OR GPL-3.0-only"

# pack_components OUT NAME BUILD COMPONENT...: what the package ships, as an
# SPDX 2.3 tag-value document; each COMPONENT is "SOURCE_PACKAGE|VERSION|
# LICENCE|FILES", Debian's source package and version (Zarvik's for Zarvik).
# The CA bundle is added as ca-certificates when BUILD used the public set.
pack_components() {
  local out=$1 name=$2 build=$3 epoch=$SOURCE_DATE_EPOCH component source version licence files id relationship
  shift 3
  if [ -z "$(sed -n 's/^ZARVIK_CA_BUNDLE:[A-Z]*=//p' "$build/CMakeCache.txt")" ]; then
    set -- "$@" "$(pack_debian_source ca-certificates)|MPL-2.0|cacert.pem"
  fi
  {
    echo "SPDXVersion: SPDX-2.3"
    echo "DataLicense: CC0-1.0"
    echo "SPDXID: SPDXRef-DOCUMENT"
    echo "DocumentName: $name"
    echo "DocumentNamespace: https://zarvik.invalid/spdx/$name"
    echo "Creator: Organization: The Zarvik developers"
    echo "Created: $(date -u -d "@$epoch" '+%Y-%m-%dT%H:%M:%SZ')"
    for component in "$@"; do
      IFS='|' read -r source version licence files <<<"$component"
      id="SPDXRef-${source//[^A-Za-z0-9.-]/-}"
      echo
      echo "PackageName: $source"
      echo "SPDXID: $id"
      echo "PackageVersion: $version"
      if [ "$source" = zarvik ]; then
        echo "PackageSupplier: Organization: The Zarvik developers"
        relationship="SPDXRef-DOCUMENT DESCRIBES $id"
      else
        echo "PackageSupplier: Organization: Debian"
        echo "ExternalRef: PACKAGE-MANAGER purl pkg:deb/debian/$source@${version//+/%2B}?arch=source"
        relationship="SPDXRef-zarvik CONTAINS $id"
      fi
      echo "PackageDownloadLocation: NOASSERTION"
      echo "FilesAnalyzed: false"
      echo "PackageLicenseConcluded: $licence"
      echo "PackageLicenseDeclared: $licence"
      echo "PackageCopyrightText: NOASSERTION"
      echo "PackageComment: <text>Shipped as: $files</text>"
      echo "Relationship: $relationship"
    done
  } >"$out"
}

# pack_debian_source PACKAGE: "SOURCE_PACKAGE|VERSION" of an installed one.
pack_debian_source() {
  dpkg-query -W -f '${source:Package}|${source:Version}' "$1"
}
