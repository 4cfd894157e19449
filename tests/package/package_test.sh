#!/usr/bin/env bash
# What a player downloads, read as it ships:
#   package_test.sh SOURCE_ROOT WINDOWS_ZIP LINUX_TGZ
# - cacert.pem in both packages is Mozilla's public set from Debian's
#   ca-certificates, certificate for certificate, and nothing else;
# - every program and DLL in the ZIP is built for ASLR (high entropy) and
#   DEP, keeps its relocations and carries the commit's time, not the time
#   it was linked; zarvik.exe is a windowed program;
# - no folder compiled into them is one that an ordinary Windows user could
#   create (a place to plant a configuration, a module or a plugin);
# - no package names the folder it was built in.
set -euo pipefail
root=$(realpath "$1")
zip=$(realpath "$2")
tgz=$(realpath "$3")
public_cas=/usr/share/ca-certificates/mozilla
objdump=x86_64-w64-mingw32-objdump
source "$root/scripts/pack.sh"
commit_time=$(TZ=UTC date -d "@$(pack_source_date "$root")" '+%a %b %e %H:%M:%S %Y')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
ok() {
  echo "ok: $*"
  passed=$((passed + 1))
}

mkdir -p "$work/windows" "$work/linux"
(cd "$work/windows" && unzip -q "$zip")
tar -xzf "$tgz" -C "$work/linux"

# SHA-256 fingerprints, one a line and sorted, of the certificates in the
# PEM files given.
fingerprints() {
  local pem
  for pem in "$@"; do
    # One certificate a file, then each fingerprinted.
    rm -rf "$work/split" && mkdir "$work/split"
    awk -v dir="$work/split" '/-----BEGIN CERTIFICATE-----/ { n++ } n { print > (dir "/" n ".pem") }' "$pem"
    for cert in "$work/split"/*.pem; do
      openssl x509 -in "$cert" -noout -fingerprint -sha256 | sed 's/.*=//'
    done
  done | LC_ALL=C sort
}
fingerprints "$public_cas"/*.crt >"$work/public"
[ -s "$work/public" ] || fail "no certificates in $public_cas"
for package in windows linux; do
  fingerprints "$work/$package/zarvik/cacert.pem" >"$work/$package.cas"
  diff -q "$work/public" "$work/$package.cas" >/dev/null ||
    fail "$package cacert.pem is not the public set: $(diff "$work/public" "$work/$package.cas" | grep -c '^[<>]') differences"
done
ok "cacert.pem in both packages holds the $(wc -l <"$work/public") public authorities and no other"

folder="$work/windows/zarvik"
[ "$($objdump -p "$folder/zarvik.exe" | sed -n 's/^Subsystem[[:space:]]*//p')" = "00000002	(Windows GUI)" ] ||
  fail "zarvik.exe is not a windowed program"
binaries=0
while IFS= read -r -d '' binary; do
  name=${binary#"$folder/"}
  headers=$(TZ=UTC $objdump -p "$binary")
  for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
    grep -q "^[[:space:]]*$flag\$" <<<"$headers" || fail "$name lacks $flag"
  done
  $objdump -h "$binary" | grep -q ' \.reloc ' || fail "$name has no relocations (ASLR cannot move it)"
  grep -q "^Time/Date[[:space:]]*$commit_time\$" <<<"$headers" || fail "$name carries its link time"
  binaries=$((binaries + 1))
done < <(find "$folder" \( -iname '*.exe' -o -iname '*.dll' \) -print0)
ok "zarvik.exe is windowed; all $binaries programs and DLLs have ASLR, high-entropy ASLR, DEP, relocations and the commit's time"

# Folders compiled into the binaries, in either string width. On Windows a
# folder at the root of a drive (C:\something), or below the root of the
# current drive (\something, as a Unix path like /usr/... reads there), is
# one that any user may create; only those below Program Files or Windows
# are not. Source file names that the compilers recorded are never opened,
# nor are the files built into the program (":/qt-project.org/...", Qt's own,
# where strings may see the byte before the colon as a drive letter), and
# tests/package/not_folders.txt names the few other strings that look
# like folders and why they are no risk.
built_in_resource='^[A-Za-z]?:/(qt-project\.org|qt/etc|translations)/'
find "$folder" \( -iname '*.exe' -o -iname '*.dll' \) -exec strings -a -n 6 {} + >"$work/strings"
find "$folder" \( -iname '*.exe' -o -iname '*.dll' \) -exec strings -a -n 6 -e l {} + >>"$work/strings"
{
  grep -o -E '(^|[^A-Za-z0-9%])[A-Za-z]:(\\|/[^/])[^"<>|*?]*' "$work/strings" | sed -E 's/^[^A-Za-z]//; s/ +$//'
  grep -o -E '(^|[^A-Za-z0-9:._-])/(root|home|tmp|usr|opt|build|work|etc|var|srv|mnt|zarvik-win64)(/[^ "]*)?' \
    "$work/strings" | sed -E 's/^[^/]//'
} | grep -v -E '\.(c|cc|cpp|cxx|h|hh|hpp|inc|inl)$' | grep -v -E "$built_in_resource" |
  LC_ALL=C sort -u >"$work/folders"
admin_only='^[Cc]:[/\\](Program Files|Windows)([/\\]|$)'
grep -E "$admin_only" "$work/folders" | sed 's/^/  compiled in: /'
user_creatable=$(grep -v -E "$admin_only" "$work/folders" |
  grep -v -F -x -f <(sed -n 's/^\([^#].*\)	.*/\1/p' "$root/tests/package/not_folders.txt") || true)
[ -z "$user_creatable" ] ||
  fail "folders any user could create are compiled in: $(echo "$user_creatable" | head -n 5 | paste -s -d ' ')"
ok "every folder compiled into the Windows binaries is one only administrators can create"

for package in windows linux; do
  for tree in "$root" "$HOME/.cache" "${XDG_CACHE_HOME:-$HOME/.cache}"; do
    if grep -r -q -F "$tree" "$work/$package"; then
      fail "the $package package names the build machine's $tree"
    fi
  done
done
ok "neither package names the source folder or the toolchain cache"

echo "$passed passed, 0 failed"
