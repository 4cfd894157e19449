#!/usr/bin/env bash
# Builds the Windows libraries that Zarvik links (OpenSSL, libcurl and Qt's
# qtbase) with Debian's MinGW-w64, from Debian's own source packages at
# exactly the versions installed here, so that the host's moc, rcc and uic
# match the Qt they serve. Each library gets a prefix in the cache folder,
# named by its version and this recipe's revision and reused when present;
# it counts as finished once its ".complete" marker is written, after its
# record (buildinfo.txt). An interrupted build resumes in its work folder.
# File names are mapped to a fixed root, time stamps come from the source
# package's changelog and the PE headers carry no link time, so that the
# libraries come out the same whenever they are built (see "sorts after
# /usr" below for where).
#
# Prints progress on standard error, at least a line a minute, and on
# standard output the finished prefixes as a CMake list: Qt's, libcurl's and
# OpenSSL's, then with --tests cpp-httplib's and nlohmann-json's headers,
# which only the test suites build with.
#   windows_toolchain.sh [--tests]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/buildinfo.sh"
source "$root/scripts/lib/build_stage.sh"
for_tests=0
[ "${1:-}" = --tests ] && for_tests=1

# Each library's recipe revision: raise it when a change below changes what
# gets built for that library.
declare -A recipe=([openssl]=2 [curl]=2 [qtbase]=4 [httplib]=1 [json]=1)
cache="${XDG_CACHE_HOME:-$HOME/.cache}/zarvik/win64"
jobs=$(nproc)
toolchain="$root/cmake/mingw-w64.cmake"
# The same linker flags as every CMake-built library and program (the
# toolchain file reads them from the same file).
pe_link_flags=$(<"$root/cmake/pe_link_flags.txt")
# Where the cache folder appears in whatever the compilers record (source
# file names above all), so that nothing depends on where the cache is.
mapped_root=/zarvik-win64

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

# fetch SOURCE_PACKAGE VERSION: unpacks the Debian source package, with
# Debian's patches applied, as $work/src (kept when a build is resumed).
fetch() {
  [ -f "$work/.fetched" ] && return
  rm -rf "$work/fetch" "$work/src"
  mkdir -p "$work/fetch"
  (cd "$work/fetch" && apt-get source --only-source "$1=$2") >>"$log" 2>&1 || return 1
  local unpacked
  unpacked=$(find "$work/fetch" -mindepth 1 -maxdepth 1 -type d -name "$1-*" | head -n 1)
  [ -n "$unpacked" ] || return 1
  mv "$unpacked" "$work/src"
  rm -rf "$work/fetch"
  touch "$work/.fetched"
}

# Time stamps that the builds record (OpenSSL's build information, the time
# stamps of Qt's compiled-in resources) are the source package's own.
source_date() { dpkg-parsechangelog -l "$work/src/debian/changelog" -S Timestamp; }

build_openssl() {
  local source="$work/src"
  # OpenSSL builds in its source tree and names its files relative to it,
  # and it records its compiler flags in the library: no file-name mapping
  # is wanted (it would record the cache folder itself).
  # Only libcrypto and libssl are built: no engines, no loadable modules,
  # no command-line tool, and none of the old or national ciphers that TLS
  # to the score service never uses.
  stage "OpenSSL configure" bash -c "cd '$source' && ./Configure mingw64 shared no-tests \
      no-engine no-module no-legacy no-comp no-ssl3 no-srp no-gost no-idea no-seed \
      no-whirlpool no-rc5 no-md2 no-mdc2 no-camellia no-aria no-sm2 no-sm3 no-sm4 \
      no-srtp no-ct --cross-compile-prefix=x86_64-w64-mingw32- --prefix='$prefix' --libdir=lib \
      $pe_link_flags"
  # The folders OpenSSL looks in at run time (its configuration, engines
  # and modules) are compiled in. They name folders that only administrators
  # can create on Windows, never the build prefix: a user-creatable one would
  # let any local user plant a configuration or a module in the program.
  local windows_folders=(
    "OPENSSLDIR=C:/Program Files/Common Files/SSL"
    "ENGINESDIR=C:/Program Files/OpenSSL/lib/engines-3"
    "MODULESDIR=C:/Program Files/OpenSSL/lib/ossl-modules"
  )
  stage "OpenSSL build" env SOURCE_DATE_EPOCH="$(source_date)" \
    make -C "$source" -j "$jobs" "${windows_folders[@]}" build_libs
  stage "OpenSSL install" make -C "$source" "${windows_folders[@]}" install_dev
}

# configure_with_cmake ARGS...: the first configure of a CMake-built
# library, in release mode with file names mapped to a fixed root (the
# toolchain file adds the hardening and time-stamp linker flags).
configure_with_cmake() {
  env CFLAGS="-ffile-prefix-map=$cache=$mapped_root" CXXFLAGS="-ffile-prefix-map=$cache=$mapped_root" \
    cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release "$@"
}

build_curl() {
  # HTTP and HTTPS through OpenSSL only, and no built-in CA bundle or CA
  # folder: the program names its own bundle for every transfer.
  stage "curl configure" configure_with_cmake -S "$work/src" -B "$work/build" \
    -DZARVIK_WIN64_PREFIXES="$openssl_prefix" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=ON -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON -DCURL_USE_OPENSSL=ON -DCURL_USE_SCHANNEL=OFF \
    -DCURL_WINDOWS_SSPI=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
    -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_USE_LIBSSH2=OFF \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_CA_FALLBACK=OFF \
    -DOPENSSL_ROOT_DIR="$openssl_prefix"
  stage "curl build" cmake --build "$work/build" -j "$jobs"
  stage "curl install" cmake --install "$work/build"
}

build_qtbase() {
  # Only what the program uses: Core, Gui and Widgets with the windows
  # platform plugin and its style plugin, and for the test suites the
  # offscreen platform plugin (never shipped), optimised for size (a smaller
  # download, and about a third less compile time than -O3). Tablet events
  # are off because Debian's source lacks the Wintab headers they need.
  # OpenGL stays on: the windows plugin of this version does not build
  # without it (it loads opengl32.dll, part of Windows, only when a window
  # asks for OpenGL).
  #
  # Qt's MIME database is compressed into QtCore; CMake's own gzip writer
  # stamps it with the time of configuring, Qt's script does not.
  #
  # The prefix is the build folder itself (Qt's "non-prefix" build): just
  # the libraries and plugins the program ships are built, so there is
  # nothing to install, and an interrupted build resumes in place. Qt is
  # relocatable: it finds its plugins beside the program, and no prefix is
  # compiled into it.
  stage "qtbase configure" configure_with_cmake -S "$work/src" -B "$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON -DFEATURE_optimize_size=ON \
    -DQT_AVOID_CMAKE_ARCHIVING_API=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_testlib=OFF \
    -DFEATURE_vulkan=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_icu=OFF -DFEATURE_zstd=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF
  stage "qtbase build" env SOURCE_DATE_EPOCH="$(source_date)" \
    cmake --build "$prefix" -j "$jobs" --target Widgets EntryPointImplementation \
    QWindowsIntegrationPlugin QWindowsVistaStylePlugin QOffscreenIntegrationPlugin
}

# Header-only libraries of the test suites. cpp-httplib's single header comes
# from its source: Debian's -dev package splits it around a library built for
# Linux.
build_httplib() {
  stage "cpp-httplib install" install -D -m 644 "$work/src/httplib.h" "$prefix/include/httplib.h"
}
build_json() {
  stage "nlohmann-json configure" cmake -S "$work/src" -B "$work/build" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DJSON_BuildTests=OFF
  stage "nlohmann-json install" cmake --install "$work/build"
}

# The tools that build each library, named in the record that every
# finished prefix holds (buildinfo.txt): the packages' build records
# include it.
declare -A built_with=(
  [openssl]="x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-ld make perl"
  [curl]="x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-ld cmake ninja"
  [qtbase]="x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-ld cmake ninja
            /usr/lib/qt6/libexec/moc /usr/lib/qt6/libexec/rcc"
  [httplib]="install"
  [json]="cmake"
)

# record NAME SOURCE_PACKAGE VERSION: writes $prefix/buildinfo.txt.
record() {
  local key=${1%%-*} tool
  {
    echo "Library $2: $3, recipe ${recipe[$key]}"
    for tool in ${built_with[$key]}; do
      echo "Library $2 built with $(buildinfo_tool "$tool")"
    done
  } >"$prefix/buildinfo.txt"
}

# ensure NAME SOURCE_PACKAGE BUILD_FUNCTION VERSION...: sets `prefix` to a
# finished prefix "NAME-VERSION-rRECIPE" for the first of the versions that
# has one, or else builds (or resumes building) the first version whose
# source can be fetched.
ensure() {
  local name=$1 package=$2 build=$3 revision version
  shift 3
  revision=${recipe[${name%%-*}]}
  for version in "$@"; do
    prefix="$cache/$name-$version-r$revision"
    # One finished before prefixes held records is built again.
    [ ! -f "$prefix/.complete" ] || [ ! -f "$prefix/buildinfo.txt" ] || return 0
  done
  for version in "$@"; do
    prefix="$cache/$name-$version-r$revision"
    work="$cache/work/$name-$version-r$revision"
    log="$work/build.log"
    mkdir -p "$work"
    if ! fetch "$package" "$version"; then
      say "the archive does not serve $package $version in full; trying another version"
      rm -rf "$work"
      continue
    fi
    if [ -f "$work/.done-$name-started" ]; then
      say "resuming $(basename "$prefix") (log: $log)"
    else
      # A prefix without its marker is what an interrupted install left.
      [ "$build" = build_qtbase ] || rm -rf "$prefix"
      touch "$work/.done-$name-started"
      say "building $(basename "$prefix") (log: $log)"
    fi
    "$build"
    record "$name" "$package" "$version"
    touch "$prefix/.complete"
    # Qt's build folder, the prefix, refers to the headers in its source.
    [ "$build" = build_qtbase ] || rm -rf "$work"
    return
  done
  say "no version of $package could be fetched: $*"
  exit 1
}

mkdir -p "$cache/work"
# The linker orders a DLL's imports by the paths of the import libraries,
# so where the cache sorts among MinGW-w64's folders shapes the bytes; the
# build records say where (buildinfo_windows_libraries).
if [[ "$cache" > /usr/lib/gcc ]]; then
  say "warning: $cache sorts after /usr/lib/gcc; what is linked here lists its imports in another"
  say "order than in a cache below /home, /root or /tmp, as the build record says (Library cache)"
fi
# One build at a time: a second run waits for the first and then finds its
# prefixes finished.
exec 9>"$cache/.lock"
if ! flock -n 9; then
  say "another build of the Windows libraries is running; waiting for it, at most 2 hours"
  if ! flock -w 7200 9; then
    say "waited 2 hours for the build holding $cache/.lock; stop it, or remove the lock if none runs"
    exit 1
  fi
fi

mapfile -t openssl_versions < <(source_versions openssl "$(installed_version libssl-dev)")
mapfile -t curl_versions < <(source_versions curl "$(installed_version libcurl4-openssl-dev)")
qt_version=$(installed_version qt6-base-dev)
if [ ! -f "$cache/qtbase-$qt_version-r${recipe[qtbase]}/.complete" ]; then
  say "the Windows libraries are built once and then reused from $cache;"
  say "on two idle cores that first build takes about 12 minutes (OpenSSL, curl, then qtbase)"
fi
ensure openssl openssl build_openssl "${openssl_versions[@]}"
openssl_prefix=$prefix
ensure "curl-with-$(basename "$openssl_prefix")" curl build_curl "${curl_versions[@]}"
curl_prefix=$prefix
ensure qtbase qt6-base build_qtbase "$qt_version"
qt_prefix=$prefix
if [ "$for_tests" -eq 0 ]; then
  echo "$qt_prefix;$curl_prefix;$openssl_prefix"
  exit 0
fi
ensure httplib cpp-httplib build_httplib "$(installed_version libcpp-httplib-dev)"
httplib_prefix=$prefix
ensure json nlohmann-json3 build_json "$(installed_version nlohmann-json3-dev)"
echo "$qt_prefix;$curl_prefix;$openssl_prefix;$httplib_prefix;$prefix"
