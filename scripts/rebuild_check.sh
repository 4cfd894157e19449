#!/usr/bin/env bash
# rebuild_check.sh PACKAGE: rebuilds a Zarvik package from the commit its
# build record (zarvik/licenses/buildinfo.txt) names, in a temporary git
# worktree of this checkout, and compares the two. Every input the record
# names is first compared with this machine's; where one differs the bytes
# could not match, so it stops and names each. Prints "identical", or each
# file that differs; exits 0 only for "identical".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
record_path=zarvik/licenses/buildinfo.txt
# Bounds that only a stuck build reaches, well above the times measured for
# the Windows libraries' first build and for a package (docs/check.md).
library_minutes=120
build_minutes=45

fail() {
  echo "rebuild check: $*" >&2
  exit 1
}
if [ $# -ne 1 ] || [ -z "$1" ]; then
  echo "usage: $0 PACKAGE (a zarvik-<version>-win64.zip or zarvik-<version>-Linux.tar.gz)" >&2
  exit 2
fi
package=$(realpath -e -- "$1" 2>/dev/null) && [ -f "$package" ] || fail "no such file: $1"
name=$(basename "$package")

# Resolved, as git records the worktree it adds there.
work=$(realpath "$(mktemp -d "${TMPDIR:-/tmp}/zarvik-rebuild.XXXXXX")")
worktree=
child=
# However the check ends, the build is stopped (it runs in timeout's process
# group), and then the worktree, its registration and every temporary file
# go; a registration left is said.
clean_up() {
  [ -z "$child" ] || stop_group "$child" 30
  [ -z "$worktree" ] || git -C "$root" worktree remove --force "$worktree" >"$work.removal" 2>&1
  rm -rf "$work"
  [ -n "$worktree" ] || return
  git -C "$root" worktree prune >>"$work.removal" 2>&1
  if git -C "$root" worktree list --porcelain | grep -q -x -F "worktree $worktree"; then
    echo "rebuild check: could not remove the temporary worktree $worktree from $root:" >&2
    cat "$work.removal" >&2
  fi
  rm -f "$work.removal"
}
source "$root/scripts/lib/on_exit.sh"
source "$root/scripts/lib/processes.sh"
on_exit clean_up

# bounded MINUTES WHAT COMMAND...: in the background, so that a signal
# reaches the check at once.
bounded() {
  local minutes=$1 what=$2 status=0
  shift 2
  timeout "${minutes}m" "$@" &
  child=$!
  wait "$child" || status=$?
  child=
  [ "$status" -ne 124 ] || fail "$what did not finish within $minutes minutes"
  [ "$status" -eq 0 ] || fail "$what failed (status $status)"
}

# unpack ARCHIVE FOLDER: with unzip or tar, which keep every file below
# FOLDER whatever names the archive holds (CMake's own unpacker does not).
unpack() {
  mkdir -p "$2"
  case "$1" in
    *.zip) unzip -q "$1" -d "$2" ;;
    *) tar -xzf "$1" -C "$2" ;;
  esac
}

# The archive must read without error before anything in it is trusted.
recorded="$work/recorded"
case "$name" in
  *.zip)
    command -v unzip >/dev/null || fail "reading $name needs unzip, which is not installed here"
    unzip -tqq "$package" >"$work/test.log" 2>&1 || fail "$name is damaged: it does not read as a ZIP archive"
    unzip -p "$package" "$record_path" 2>/dev/null | head -c 65537 >"$recorded" || true
    ;;
  *.tar.gz)
    gzip -t "$package" 2>"$work/test.log" && tar -tzf "$package" >"$work/test.log" 2>&1 ||
      fail "$name is damaged: it does not read as a gzipped tar archive"
    tar -xzOf "$package" "$record_path" 2>/dev/null | head -c 65537 >"$recorded" || true
    ;;
  *) fail "$name is not a Zarvik package (a .zip or .tar.gz)" ;;
esac
[ -s "$recorded" ] || fail "$name holds no build record ($record_path): it was built before packages had one"
malformed() { fail "$name has a malformed build record ($record_path): $*"; }
[ "$(wc -c <"$recorded")" -le 65536 ] || malformed "longer than 64 KiB"
# Its lines are printed below: no terminal control characters.
! LC_ALL=C grep -q -v '^[[:print:]]*$' "$recorded" || malformed "it holds characters other than printable ASCII"
field() { sed -n "s/^$1: //p" "$recorded"; }
[ "$(field Format)" = "zarvik-buildinfo 1" ] || malformed "no \"Format: zarvik-buildinfo 1\" line"
commit=$(field Commit)
tree=$(field Tree)
epoch=$(field Source-Date-Epoch)
command=$(field Build-Command)
package_name=$(field Package)
preset=$(field Build-Preset)
mapfile -t options < <(field Build-Option)
case "$command" in
  scripts/windows.sh) kind=windows suffix=-win64.zip ;;
  scripts/linux.sh) kind=linux suffix=-Linux.tar.gz ;;
  *) malformed "no known Build-Command" ;;
esac
[[ "$package_name" =~ ^zarvik-[0-9A-Za-z.+~-]+$suffix$ ]] || malformed "no valid Package line"
[[ "$epoch" =~ ^[0-9]{1,12}$ ]] || malformed "no valid Source-Date-Epoch line"
case "$preset" in windows | windows-local | linux) ;; *) malformed "no known Build-Preset" ;; esac
[[ "$commit" != none* ]] || fail "$name was built outside a git checkout, so it names no commit to rebuild"
[[ "$commit" =~ ^[0-9a-f]{40}$ ]] || malformed "no valid Commit line"
[ "$tree" = clean ] ||
  fail "$name was built from commit $commit with changes not committed, so no rebuild of a commit can promise its bytes; commit them and build it again"
# Only the project's own options, plain settings, are handed to CMake.
for option in "${options[@]}"; do
  case "$option" in
    -DZARVIK_UPLOAD_URL=https://* | -DZARVIK_BUILD_WINDOWS_TEST_HELPERS=ON | -DZARVIK_BUILD_WINDOWS_TEST_HELPERS=OFF) ;;
    *) fail "$name was built with the option \"$option\", which this check does not replay; rebuild it by hand" ;;
  esac
done
git -C "$root" cat-file -e "$commit^{commit}" 2>/dev/null ||
  fail "$name was built from commit $commit, which this checkout ($root) does not have; fetch it first"

worktree="$work/source"
git -C "$root" worktree add --detach --quiet "$worktree" "$commit" >"$work/worktree.log" 2>&1 ||
  fail "could not check out $commit in a temporary worktree: $(tail -n 1 "$work/worktree.log")"
# This machine's inputs, read by the commit's own scripts, as the record's
# were when the package was built.
# shellcheck source=scripts/lib/buildinfo.sh
source "$worktree/scripts/lib/buildinfo.sh"
export SOURCE_DATE_EPOCH=$epoch

# differ RECORDED HERE: the keys whose values differ, with both values.
differ() {
  awk 'function name(line) { return substr(line, 1, index(line, ": ") - 1) }
    function value(line) { return substr(line, index(line, ": ") + 2) }
    NR == FNR { recorded[name($0)] = value($0); next }
    { here[name($0)] = value($0) }
    END {
      for (input in recorded)
        if (!(input in here)) print "  " input ": recorded " recorded[input] "; here none"
        else if (recorded[input] != here[input]) print "  " input ": recorded " recorded[input] "; here " here[input]
      for (input in here) if (!(input in recorded)) print "  " input ": recorded none; here " here[input]
    }' "$1" "$2" | LC_ALL=C sort
}
# stop_if_inputs_differ PATTERN: the recorded inputs matching PATTERN against $work/here.
stop_if_inputs_differ() {
  grep -E "$1" "$recorded" >"$work/recorded-inputs" || true
  differ "$work/recorded-inputs" "$work/here" >"$work/differences"
  if [ -s "$work/differences" ]; then
    echo "rebuild check: $name cannot come out the same here; these inputs differ:"
    cat "$work/differences"
    echo "rebuild check: Debian's archive serves only current versions: an older release needs a machine not updated since"
    exit 1
  fi
}

first_inputs='^(Tool|Package) '
[ "$kind" = linux ] && first_inputs='^(Tool|Package|Library) '
{
  buildinfo_tools "$kind"
  sed -n 's/^Package \([a-z0-9][a-z0-9.+-]*\): .*/\1/p' "$recorded" | while read -r debian_package; do
    echo "Package $debian_package: $(buildinfo_installed "$debian_package")"
  done
  [ "$kind" = windows ] || buildinfo_linux_libraries
} >"$work/here"
stop_if_inputs_differ "$first_inputs"

if [ "$kind" = windows ]; then
  echo "rebuild check: the Windows libraries (built first if the cache lacks them)" >&2
  bounded "$library_minutes" "building the Windows libraries" bash "$worktree/scripts/windows_toolchain.sh" >"$work/prefixes"
  buildinfo_windows_libraries "$(cat "$work/prefixes")" >"$work/here"
  stop_if_inputs_differ '^Library '
fi

echo "rebuild check: rebuilding $package_name from $commit" >&2
bounded "$build_minutes" "the rebuild" bash "$worktree/$command" --preset "$preset" \
  --build-dir "$work/build" "${options[@]}" >&2
rebuilt="$work/build/$package_name"
[ -f "$rebuilt" ] || fail "the rebuild made no $package_name"
if cmp -s "$package" "$rebuilt"; then
  echo "identical: $name is what commit $commit builds (sha256 $(sha256sum <"$package" | cut -c 1-64))"
  exit 0
fi

# files FOLDER: "PATH SIZE SHA256" for every file below FOLDER, by path.
files() {
  (cd "$1" && find . -type f -printf '%P\n' | LC_ALL=C sort | while IFS= read -r path; do
    printf '%s\t%s\t%s\n' "$path" "$(stat -c %s "$path")" "$(sha256sum <"$path" | cut -c 1-64)"
  done)
}
unpack "$package" "$work/given"
unpack "$rebuilt" "$work/rebuilt"
files "$work/given" >"$work/given.files"
files "$work/rebuilt" >"$work/rebuilt.files"
echo "rebuild check: $name differs from its rebuild from $commit (path, size, SHA-256):"
diff "$work/given.files" "$work/rebuilt.files" | sed -n 's/^< /  package: /p; s/^> /  rebuild: /p' >"$work/differences"
if [ -s "$work/differences" ]; then
  cat "$work/differences"
else
  echo "  every file is the same; the archives differ in file times, modes, owners or order"
fi
if [ -f "$work/rebuilt/$record_path" ] && ! cmp -s "$recorded" "$work/rebuilt/$record_path"; then
  echo "  the build records differ (recorded; here):"
  differ "$recorded" "$work/rebuilt/$record_path"
fi
exit 1
