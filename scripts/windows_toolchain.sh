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

# Raised when a change below changes what gets built for that library.
declare -A recipe=([openssl]=3 [curl]=2 [qtbase]=5 [httplib]=1 [json]=1)
# What each library leaves out, part of its recipe and of its record.
# OpenSSL: what libcurl's TLS client (TLS 1.2 and 1.3, their ciphers and
# key exchanges, X.509 verification), the test suites' TLS server and the
# program's SHA-256 never use: DTLS, CMS, time stamps, OCSP (the program
# asks for no certificate status), SRP, certificate transparency, and the
# legacy or national ciphers and digests.
# Qt: the feature switches (each module's configure.cmake) for what neither
# the program (one window, push buttons, QInputDialog, QMessageBox, the
# Windows and Vista styles, accessibility, translations, the clipboard,
# high-DPI scaling) nor its suites on the offscreen platform use: whole
# modules; the widgets, dialogs and views besides those (QInputDialog's
# combo box keeps the list view and the standard item model, the Vista
# style the radio button, tab bar, and tree and table views); style sheets,
# which nothing sets (the Fusion style stays: the offscreen platform's,
# which the suites see); the text formats besides plain and HTML; the image
# formats besides PNG, BMP (the clipboard's) and XPM (the styles' own);
# HarfBuzz, as Latin and Turkish text needs no shaping beyond the font's
# own (FreeType stays for the offscreen platform); and in Core, the MIME
# database, time zones, processes, shared memory, file system watchers,
# futures, XML streams and the non-Gregorian calendars. CBOR stays for plugin
# metadata, menu and tool bars for Widgets' compatibility code, regular
# expressions as this Qt's configure requires PCRE2 even without them.
declare -A features=(
  [openssl]="no-engine no-module no-legacy no-comp no-ssl3 no-srp no-gost no-idea no-seed \
             no-whirlpool no-rc5 no-md2 no-mdc2 no-camellia no-aria no-sm2 no-sm3 no-sm4 \
             no-srtp no-ct no-dtls no-cms no-ts no-ocsp no-rfc3779 no-des no-rc2 no-rc4 \
             no-bf no-cast no-dsa no-ec2m no-ocb no-siv no-scrypt no-siphash"
  [qtbase]="-DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF \
            -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_testlib=OFF \
            -DFEATURE_vulkan=OFF -DFEATURE_tabletevent=OFF \
            -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_icu=OFF -DFEATURE_zstd=OFF \
            -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
            -DFEATURE_system_freetype=OFF \
            -DFEATURE_mimetype=OFF -DFEATURE_timezone=OFF -DFEATURE_process=OFF \
            -DFEATURE_sharedmemory=OFF \
            -DFEATURE_systemsemaphore=OFF -DFEATURE_xmlstream=OFF -DFEATURE_commandlineparser=OFF \
            -DFEATURE_jalalicalendar=OFF -DFEATURE_hijricalendar=OFF -DFEATURE_sha3_fast=OFF \
            -DFEATURE_identityproxymodel=OFF -DFEATURE_transposeproxymodel=OFF \
            -DFEATURE_concatenatetablesproxymodel=OFF \
            -DFEATURE_harfbuzz=OFF -DFEATURE_textodfwriter=OFF -DFEATURE_textmarkdownreader=OFF \
            -DFEATURE_textmarkdownwriter=OFF -DFEATURE_pdf=OFF -DFEATURE_movie=OFF \
            -DFEATURE_picture=OFF -DFEATURE_undocommand=OFF -DFEATURE_filesystemmodel=OFF \
            -DFEATURE_desktopservices=OFF -DFEATURE_systemtrayicon=OFF \
            -DFEATURE_imageformat_ppm=OFF -DFEATURE_imageformat_xbm=OFF \
            -DFEATURE_calendarwidget=OFF -DFEATURE_datetimeedit=OFF -DFEATURE_dockwidget=OFF \
            -DFEATURE_mdiarea=OFF -DFEATURE_treewidget=OFF -DFEATURE_tablewidget=OFF \
            -DFEATURE_columnview=OFF -DFEATURE_listwidget=OFF -DFEATURE_datawidgetmapper=OFF \
            -DFEATURE_graphicsview=OFF -DFEATURE_wizard=OFF -DFEATURE_filedialog=OFF \
            -DFEATURE_fontdialog=OFF -DFEATURE_fontcombobox=OFF -DFEATURE_colordialog=OFF \
            -DFEATURE_errormessage=OFF -DFEATURE_progressdialog=OFF -DFEATURE_lcdnumber=OFF \
            -DFEATURE_dial=OFF -DFEATURE_toolbox=OFF -DFEATURE_splashscreen=OFF \
            -DFEATURE_splitter=OFF -DFEATURE_keysequenceedit=OFF -DFEATURE_commandlinkbutton=OFF \
            -DFEATURE_syntaxhighlighter=OFF -DFEATURE_textbrowser=OFF -DFEATURE_progressbar=OFF \
            -DFEATURE_sizegrip=OFF -DFEATURE_rubberband=OFF -DFEATURE_formlayout=OFF \
            -DFEATURE_completer=OFF -DFEATURE_scroller=OFF -DFEATURE_style_stylesheet=OFF \
            -DFEATURE_filesystemwatcher=OFF -DFEATURE_future=OFF"
)
cache="${XDG_CACHE_HOME:-$HOME/.cache}/zarvik/win64"
jobs=$(nproc)
toolchain="$root/cmake/mingw-w64.cmake"
# The toolchain file gives the CMake-built ones the same linker flags.
pe_link_flags=$(<"$root/cmake/pe_link_flags.txt")
# The cache folder as the compilers record it (source file names above all).
mapped_root=/zarvik-win64

installed_version() { dpkg-query -W -f '${Version}' "$1"; }
# The installed version first, then the archive's others, newest first, for
# a mirror that lacks a file of the installed one (Qt must match exactly).
source_versions() {
  echo "$2"
  apt-cache showsrc --only-source "$1" 2>/dev/null | sed -n 's/^Version: //p' |
    grep -v -x -F "$2" | sort -V -r -u
}

say() { printf 'windows toolchain: %s\n' "$*" >&2; }

# fetch SOURCE_PACKAGE VERSION: the Debian source package, with Debian's
# patches applied, as $work/src.
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

# The time stamps the builds record (OpenSSL's build information, Qt's
# compiled-in resources) are the source package's.
source_date() { dpkg-parsechangelog -l "$work/src/debian/changelog" -S Timestamp; }

build_openssl() {
  local source="$work/src"
  # OpenSSL names its files relative to its source tree, and records its
  # compiler flags: a file-name mapping would record the cache folder. Only
  # libcrypto and libssl, without engines, modules or the command-line tool
  # (the rest left out is in `features` above).
  stage "OpenSSL configure" bash -c "cd '$source' && ./Configure mingw64 shared no-tests \
      ${features[openssl]} --cross-compile-prefix=x86_64-w64-mingw32- --prefix='$prefix' \
      --libdir=lib $pe_link_flags"
  # The folders it looks in at run time are compiled in: ones only
  # administrators can create, where no user can plant a configuration or
  # a module, never the build prefix.
  local windows_folders=(
    "OPENSSLDIR=C:/Program Files/Common Files/SSL"
    "ENGINESDIR=C:/Program Files/OpenSSL/lib/engines-3"
    "MODULESDIR=C:/Program Files/OpenSSL/lib/ossl-modules"
  )
  stage "OpenSSL build" env SOURCE_DATE_EPOCH="$(source_date)" \
    make -C "$source" -j "$jobs" "${windows_folders[@]}" build_libs
  stage "OpenSSL install" make -C "$source" "${windows_folders[@]}" install_dev
}

# configure_with_cmake ARGS...: a CMake-built library's configure.
configure_with_cmake() {
  env CFLAGS="-ffile-prefix-map=$cache=$mapped_root" CXXFLAGS="-ffile-prefix-map=$cache=$mapped_root" \
    cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release "$@"
}

build_curl() {
  # HTTP and HTTPS through OpenSSL only, and no CA bundle or folder built in:
  # the program names its own bundle.
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
  # Core, Gui and Widgets with the windows platform and style plugins, and
  # the offscreen platform for the test suites, optimised for size (a
  # smaller download, a third less compile time). Debian's source lacks the
  # Wintab headers of tablet events; the windows plugin of this version does
  # not build without OpenGL (it loads opengl32.dll only when asked).
  # CMake's own gzip writer would stamp the MIME database compressed into
  # QtCore with the time of configuring. The prefix is the build folder
  # (Qt's "non-prefix" build): nothing to install, and a build resumes in
  # place. Qt is relocatable: no prefix is compiled into it.
  # shellcheck disable=SC2086 # the features are words of their own
  stage "qtbase configure" configure_with_cmake -S "$work/src" -B "$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON -DFEATURE_optimize_size=ON \
    -DQT_AVOID_CMAKE_ARCHIVING_API=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    ${features[qtbase]}
  stage "qtbase build" env SOURCE_DATE_EPOCH="$(source_date)" \
    cmake --build "$prefix" -j "$jobs" --target Widgets EntryPointImplementation \
    QWindowsIntegrationPlugin QWindowsVistaStylePlugin QOffscreenIntegrationPlugin
}

# The test suites' header-only libraries; cpp-httplib's single header from
# its source, as Debian's -dev package splits it around a Linux library.
build_httplib() {
  stage "cpp-httplib install" install -D -m 644 "$work/src/httplib.h" "$prefix/include/httplib.h"
}
build_json() {
  stage "nlohmann-json configure" cmake -S "$work/src" -B "$work/build" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DJSON_BuildTests=OFF
  stage "nlohmann-json install" cmake --install "$work/build"
}

# The tools that build each library, named in its record.
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
    [ -z "${features[$key]:-}" ] || echo "Library $2 features: ${features[$key]}" | tr -s ' '
    for tool in ${built_with[$key]}; do
      echo "Library $2 built with $(buildinfo_tool "$tool")"
    done
  } >"$prefix/buildinfo.txt"
}

# ensure NAME SOURCE_PACKAGE BUILD_FUNCTION VERSION...: sets `prefix` to the
# first finished "NAME-VERSION-rRECIPE", or else builds (or resumes) the
# first version whose source can be fetched.
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
# One build at a time; a second run then finds the prefixes finished.
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
  say "that first build: OpenSSL, curl, then qtbase"
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
