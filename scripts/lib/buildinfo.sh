# shellcheck shell=bash
# What shaped a package's bytes besides its commit, as lines of its build
# record ("KEY: VALUE"): the libraries ("Library ..."), the Debian packages
# whose files it holds ("Package ...") and the tools ("Tool ..."), always
# read from this machine. Sourced by the package scripts, the Windows
# toolchain and the rebuild check (from the commit it rebuilds).

# buildinfo_owners FILE...: the Debian packages that installed FILEs, one a
# line; files of no package (Zarvik's own, the toolchain cache's) add none.
buildinfo_owners() {
  local file
  for file in "$@"; do
    # Since /bin merged into /usr/bin, dpkg may know a file by its old name.
    LC_ALL=C dpkg-query -S "$file" 2>/dev/null || LC_ALL=C dpkg-query -S "${file#/usr}" 2>/dev/null || true
  done | grep -v '^diversion ' | sed 's/: .*//; s/, /\n/g' | sed 's/:.*//' | LC_ALL=C sort -u
}

# buildinfo_installed PACKAGE: its installed version, or "not installed".
buildinfo_installed() {
  local state
  state=$(dpkg-query -W -f '${db:Status-Status} ${Version}' "$1" 2>/dev/null || true)
  case "$state" in
    "installed "*) echo "${state#installed }" ;;
    *) echo "not installed" ;;
  esac
}

# buildinfo_tool COMMAND: "NAME: VERSION (PACKAGE PACKAGE_VERSION)", NAME
# being the command's own name, VERSION the first line of its --version that
# holds a number (Debian's MinGW-w64 compilers say only "12-posix" there, so
# the package's version matters) and PACKAGE the Debian package installing it.
buildinfo_tool() {
  local version package
  if ! command -v "$1" >/dev/null; then
    echo "$(basename "$1"): not installed"
    return
  fi
  version=$(LC_ALL=C "$1" --version 2>&1 </dev/null | grep -v '^Copyright' | grep -m 1 '[0-9]' || true)
  package=$(buildinfo_owners "$(readlink -f "$(command -v "$1")")" | head -n 1 || true)
  echo "$(basename "$1"): ${version:-no version}${package:+ ($package $(buildinfo_installed "$package"))}"
}

# buildinfo_tools windows|linux: the tools that build and pack that package.
# MinGW-w64's windres and strip come with its ld, the host's strip with ld.
buildinfo_tools() {
  local tool tools=(cmake ninja /usr/lib/qt6/libexec/moc /usr/lib/qt6/libexec/rcc)
  case "$1" in
    windows) tools+=(x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-ld zip) ;;
    linux) tools+=(g++ ld tar gzip) ;;
  esac
  for tool in "${tools[@]}"; do
    echo "Tool $(buildinfo_tool "$tool")"
  done
}

# buildinfo_packages FILE...: "Package NAME: VERSION" for each of their owners.
buildinfo_packages() {
  local package
  buildinfo_owners "$@" | while read -r package; do
    echo "Package $package: $(buildinfo_installed "$package")"
  done
}

# buildinfo_linux_libraries: the system libraries the Linux program is built
# against, by Debian source package; the player's system supplies them.
buildinfo_linux_libraries() {
  local package
  for package in qt6-base-dev libcurl4-openssl-dev libssl-dev libc6-dev; do
    dpkg-query -W -f "Library \${source:Package}: \${source:Version}, the system's (built against $package, not shipped)\n" \
      "$package" 2>/dev/null || echo "Library $package: not installed"
  done
}

# buildinfo_windows_libraries PREFIXES: the records the toolchain wrote into
# each of PREFIXES (windows_toolchain.sh's output), and where their cache
# folder sorts among MinGW-w64's own: the linker orders the imports of every
# DLL and program linked against them by the paths of the import libraries.
buildinfo_windows_libraries() {
  local prefix place
  local -a libraries
  IFS=';' read -r -a libraries <<<"$1"
  for prefix in "${libraries[@]}"; do
    cat "$prefix/buildinfo.txt"
  done
  place=$(printf '%s\n' "${libraries[0]}" /usr/lib/gcc /usr/x86_64-w64-mingw32 | LC_ALL=C sort |
    grep -n -x -F "${libraries[0]}" | cut -d : -f 1)
  case "$place" in
    1) echo "Library cache: sorts before /usr/lib/gcc" ;;
    2) echo "Library cache: sorts between /usr/lib/gcc and /usr/x86_64-w64-mingw32" ;;
    *) echo "Library cache: sorts after /usr/x86_64-w64-mingw32" ;;
  esac
}
