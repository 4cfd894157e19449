#!/usr/bin/env bash
# Builds the Windows libraries that Zarvik links (OpenSSL, libcurl and Qt's
# qtbase) with Debian's MinGW-w64, from Debian's own source packages at exactly
# the versions installed on this machine, so that the host's moc, rcc and uic
# match the Qt they serve.
#
# Each library is installed into its own prefix under the cache folder, named
# by its version and by this recipe's revision, and reused when present. A
# prefix counts as finished only once its ".complete" marker is written, last:
# a build that fails or is interrupted leaves nothing a later run would take.
#
# Prints one line per stage with its time on standard error, and on standard
# output the finished prefixes, separated by semicolons (a CMake list).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# Raise when a change below changes what gets built.
recipe=1
cache="${XDG_CACHE_HOME:-$HOME/.cache}/zarvik/win64"
jobs=$(nproc)
toolchain="$root/cmake/mingw-w64.cmake"

installed_version() { dpkg-query -W -f '${Version}' "$1"; }
# The versions of a source package worth building: the installed one first,
# then whatever else the archive offers, newest first, for when a mirror
# lacks a file of the installed one. Qt must match the host tools exactly.
source_versions() {
  echo "$2"
  apt-cache showsrc --only-source "$1" 2>/dev/null | sed -n 's/^Version: //p' |
    grep -v -x -F "$2" | sort -V -r -u
}

say() { printf 'windows toolchain: %s\n' "$*" >&2; }
# stage NAME COMMAND...: runs the command with its output in the build log,
# and prints the stage's time.
stage() {
  local name=$1 started=$SECONDS
  shift
  if ! "$@" >>"$log" 2>&1; then
    say "$name failed after $((SECONDS - started)) s; the last lines of $log:"
    tail -n 30 "$log" >&2
    exit 1
  fi
  say "$name: $((SECONDS - started)) s"
}

# fetch SOURCE_PACKAGE VERSION: unpacks the Debian source package, with
# Debian's patches applied, into the work folder; sets `source` to its folder.
fetch() {
  (cd "$work" && apt-get source --only-source "$1=$2") >>"$log" 2>&1 || return 1
  source=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name "$1-*" | head -n 1)
  [ -n "$source" ]
}

build_openssl() {
  # OpenSSL reads its configuration from OPENSSLDIR at start-up; on Windows
  # it must be a folder that only administrators can create, or any user
  # could plant a configuration in the program.
  stage "OpenSSL configure" bash -c "cd '$source' && ./Configure mingw64 shared no-tests \
      no-engine --cross-compile-prefix=x86_64-w64-mingw32- --prefix='$prefix' \
      --libdir=lib '--openssldir=C:/Program Files/Common Files/SSL'"
  stage "OpenSSL build" make -C "$source" -j "$jobs" build_sw
  stage "OpenSSL install" make -C "$source" install_sw
}

build_curl() {
  # HTTP and HTTPS through OpenSSL only, and no built-in CA bundle or CA
  # folder: the program names its own bundle for every transfer.
  stage "curl configure" cmake -G Ninja -S "$source" -B "$work/curl-build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DZARVIK_WIN64_PREFIXES="$openssl_prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=ON -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON -DCURL_USE_OPENSSL=ON -DCURL_USE_SCHANNEL=OFF \
    -DCURL_WINDOWS_SSPI=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
    -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_USE_LIBSSH2=OFF \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_CA_FALLBACK=OFF \
    -DOPENSSL_ROOT_DIR="$openssl_prefix"
  stage "curl build" cmake --build "$work/curl-build" -j "$jobs"
  stage "curl install" cmake --install "$work/curl-build"
}

build_qtbase() {
  # Only what the program uses: Core, Gui and Widgets with the windows
  # platform plugin and its style plugin. Tablet events are off because
  # Debian's source lacks the Wintab headers they need. OpenGL stays on:
  # the windows plugin of this version does not build without it (it loads
  # opengl32.dll, part of Windows, only when a window asks for OpenGL).
  stage "qtbase configure" cmake -G Ninja -S "$source" -B "$work/qtbase-build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_testlib=OFF \
    -DFEATURE_vulkan=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_icu=OFF -DFEATURE_zstd=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF
  stage "qtbase build" cmake --build "$work/qtbase-build" -j "$jobs"
  stage "qtbase install" cmake --install "$work/qtbase-build"
}

# ensure NAME SOURCE_PACKAGE BUILD_FUNCTION VERSION...: sets `prefix` to a
# finished prefix "NAME-VERSION-rRECIPE" for the first of the versions that
# has one, or else builds the first version whose source can be fetched.
ensure() {
  local name=$1 package=$2 build=$3 version
  shift 3
  for version in "$@"; do
    prefix="$cache/$name-$version-r$recipe"
    [ -f "$prefix/.complete" ] && return
  done
  for version in "$@"; do
    prefix="$cache/$name-$version-r$recipe"
    rm -rf "$prefix"
    work=$(mktemp -d "$cache/work.XXXXXX")
    log="$work/build.log"
    if ! fetch "$package" "$version"; then
      say "the archive does not serve $package $version in full; trying another version"
      rm -rf "$work"
      continue
    fi
    say "building $(basename "$prefix") (log: $log)"
    "$build"
    date -u '+%Y-%m-%dT%H:%M:%SZ' >"$prefix/.complete"
    rm -rf "$work"
    return
  done
  say "no version of $package could be fetched: $*"
  exit 1
}

mkdir -p "$cache"
# Work folders of builds that never finished.
rm -rf "$cache"/work.*
mapfile -t openssl_versions < <(source_versions openssl "$(installed_version libssl-dev)")
ensure openssl openssl build_openssl "${openssl_versions[@]}"
openssl_prefix=$prefix
mapfile -t curl_versions < <(source_versions curl "$(installed_version libcurl4-openssl-dev)")
ensure "curl-with-$(basename "$openssl_prefix")" curl build_curl "${curl_versions[@]}"
curl_prefix=$prefix
ensure qtbase qt6-base build_qtbase "$(installed_version qt6-base-dev)"
qt_prefix=$prefix
echo "$qt_prefix;$curl_prefix;$openssl_prefix"
