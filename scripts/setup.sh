#!/usr/bin/env bash
# setup.sh linux|windows|demo|quick|test: installs, those missing only, the
# Debian packages that the Linux package, the Windows package, the demo,
# check.sh --quick (the demo's, the test suites and the benchmark) or all
# (the sanitizer, fuzz and Windows builds and tests too) need.
set -euo pipefail
purpose=${1:-test}

program=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-translations-l10n libcurl4-openssl-dev libssl-dev openssl ca-certificates
)
windows=(g++-mingw-w64-x86-64-posix dpkg-dev zip)
demo=(libcpp-httplib-dev nlohmann-json3-dev xvfb xauth xdotool openbox wmctrl)
quick=(libgtest-dev libgmock-dev libbenchmark-dev gcovr shellcheck clang-format)
test=(clang libclang-rt-14-dev llvm wine wine64 fonts-wine unzip xclip)

case "$purpose" in
  linux) packages=("${program[@]}") ;;
  windows) packages=("${program[@]}" "${windows[@]}") ;;
  demo) packages=("${program[@]}" "${demo[@]}") ;;
  quick) packages=("${program[@]}" "${demo[@]}" "${quick[@]}") ;;
  test) packages=("${program[@]}" "${demo[@]}" "${quick[@]}" "${windows[@]}" "${test[@]}") ;;
  *)
    echo "usage: $0 linux|windows|demo|quick|test" >&2
    exit 2
    ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

# The Windows build compiles Debian's own sources of Qt, OpenSSL and curl,
# which apt fetches only with a source entry for the archive in use.
needs_sources=0
if [[ "$purpose" =~ ^(windows|test)$ ]] && ! apt-cache showsrc --only-source qt6-base 2>/dev/null | grep -q '^Version'; then
  needs_sources=1
fi
[ ${#missing[@]} -eq 0 ] && [ "$needs_sources" -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    what=${missing[*]:-}
    [ "$needs_sources" -eq 1 ] && what="${what:+$what and }deb-src entries for the archive"
    echo "setup: missing $what; as root, run: bash $0 $purpose" >&2
    exit 1
  fi
  as_root=(sudo)
fi

if [ "$needs_sources" -eq 1 ]; then
  # The same archives, suites and components as the binary entries.
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    from=/etc/apt/sources.list.d/debian.sources to=/etc/apt/sources.list.d/zarvik-deb-src.sources
    twins='s/^Types: deb$/Types: deb-src/;p'
  else
    from=/etc/apt/sources.list to=/etc/apt/sources.list.d/zarvik-deb-src.list
    twins='s/^deb /deb-src /p'
  fi
  echo "setup: adding $to, deb-src twins of the entries in $from, as the Windows build compiles Debian's own sources of Qt, OpenSSL and curl"
  sed -n "$twins" "$from" | "${as_root[@]}" tee "$to" >/dev/null
fi
[ ${#missing[@]} -gt 0 ] && echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -q
if [ ${#missing[@]} -gt 0 ]; then
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
