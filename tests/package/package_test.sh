#!/usr/bin/env bash
# What a player downloads, read as it ships:
#   package_test.sh SOURCE_ROOT WINDOWS_ZIP LINUX_TGZ EARLIER_URL
# - each program reports to the built-in service, not to EARLIER_URL, which
#   only an earlier build in the same folder was given, and its record says
#   so;
# - cacert.pem in both packages is Mozilla's public set from Debian's
#   ca-certificates, certificate for certificate, and nothing else;
# - every program and DLL in the ZIP is built for ASLR (high entropy) and
#   DEP, keeps its relocations and carries the commit's time, not the time
#   it was linked; zarvik.exe is a windowed program;
# - the Windows DLLs hold what the program uses and not what their recipe
#   leaves out;
# - no folder compiled into them is one that an ordinary Windows user could
#   create (a place to plant a configuration, a module or a plugin);
# - no package names the folder it was built in;
# - both hold their build record, which names this commit, the Windows
#   libraries and the tools, with the same record and the checksum beside
#   them, and the text of every licence their component list names;
# - scripts/rebuild_check.sh refuses, in one line or by naming the input
#   that differs, and before building anything, a package without a
#   record, a damaged one, one of a commit this checkout lacks, one built
#   from changes not committed, and one whose recorded tool differs from
#   this machine's; and leaves nothing behind, even when stopped mid-build.
set -euo pipefail
root=$(realpath "$1")
zip=$(realpath "$2")
tgz=$(realpath "$3")
earlier_url=$4
shipped_url=https://scores.zarvik.net/upload/th10
public_cas=/usr/share/ca-certificates/mozilla
objdump=x86_64-w64-mingw32-objdump
source "$root/scripts/lib/pack.sh"
# shellcheck source=testkit/checks.sh
source "$root/testkit/checks.sh"
commit_time=$(TZ=UTC date -d "@$(pack_source_date "$root")" '+%a %b %e %H:%M:%S %Y')
work=$(mktemp -d)
# A rebuild check started in the background is stopped, and cleans up,
# before the folder it works in goes.
checker=
clean_up() {
  if [ -n "$checker" ]; then
    kill -TERM "$checker" 2>/dev/null
    wait "$checker"
  fi
  rm -rf "$work"
}
source "$root/scripts/lib/on_exit.sh"
on_exit clean_up


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

# The Windows libraries are built to what the program uses: what a player
# relies on is there, what the recipe leaves out is not (class names as
# C++ mangles them, C functions as they are).
exported() {
  $objdump -p "$folder/$1" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,$p' >"$work/exports"
  grep -q -F "$2" "$work/exports"
}
while IFS='|' read -r dll symbol wanted; do
  if exported "$dll" "$symbol"; then found=yes; else found=no; fi
  [ "$found" = "$wanted" ] || fail "$dll exports $symbol: $found, expected $wanted"
done <<'EOF_EXPORTS'
Qt6Widgets.dll|12QInputDialog|yes
Qt6Widgets.dll|11QMessageBox|yes
Qt6Widgets.dll|11QPushButton|yes
Qt6Widgets.dll|17QAccessibleWidget|yes
Qt6Gui.dll|10QClipboard|yes
Qt6Gui.dll|15QHighDpiScaling|yes
Qt6Core.dll|11QTranslator|yes
libssl-3-x64.dll|TLS_client_method|yes
libcrypto-3-x64.dll|X509_verify_cert|yes
libcrypto-3-x64.dll|EVP_sha256|yes
Qt6Widgets.dll|11QFileDialog|no
Qt6Widgets.dll|11QTreeWidget|no
Qt6Widgets.dll|13QGraphicsView|no
Qt6Gui.dll|10QPdfWriter|no
Qt6Gui.dll|10QUndoStack|no
Qt6Core.dll|13QMimeDatabase|no
Qt6Core.dll|9QTimeZone|no
Qt6Core.dll|8QProcess|no
libcrypto-3-x64.dll|OCSP_basic_verify|no
libcrypto-3-x64.dll|CMS_sign|no
libcrypto-3-x64.dll|EVP_des_ede3_cbc|no
EOF_EXPORTS
ok "the Windows DLLs hold the widgets, accessibility, clipboard and TLS the program uses, and not what their recipe leaves out"

# Folders compiled into the binaries, in either string width. Any user may
# create a folder at the root of a drive (C:\x), or of the current one (\x,
# as /usr/... reads there); not below Program Files or Windows. Source file
# names are never opened, nor Qt's built-in files (":/qt-project.org/...",
# whose colon may follow a byte read as a drive letter); not_folders.txt
# names the other strings that look like folders, and why they are no risk.
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

record=zarvik/licenses/buildinfo.txt
commit_line="Commit: $(git -C "$root" rev-parse HEAD)"
for package in windows linux; do
  inside="$work/$package/$record"
  beside=$([ "$package" = windows ] && echo "$zip" || echo "$tgz")
  grep -q -x -F "$commit_line" "$inside" || fail "the $package record does not name $commit_line"
  grep -q -x "Source-Date-Epoch: $(pack_source_date "$root")" "$inside" || fail "the $package record lacks the time stamp"
  [ "$(head -n -1 "$beside.buildinfo")" = "$(cat "$inside")" ] &&
    [ "$(tail -n 1 "$beside.buildinfo")" = "Checksum-SHA256: $(sha256sum <"$beside" | cut -c 1-64) $(basename "$beside")" ] ||
    fail "$(basename "$beside").buildinfo is not the record inside with the checksum"
  cmp -s "$beside.spdx" "$work/$package/zarvik/licenses/components.spdx" ||
    fail "$(basename "$beside").spdx is not the component list inside"
done
for line in "Library qt6-base: .*, recipe [0-9]" "Library openssl: .*, recipe [0-9]" "Library curl: .*, recipe [0-9]" \
  "Library qt6-base built with x86_64-w64-mingw32-g++-posix: .*[0-9]" "Tool zip: .*Zip [0-9]" \
  "Tool x86_64-w64-mingw32-ld: .*[0-9]" "Library cache: sorts before /usr/lib/gcc"; do
  grep -q "^$line" "$work/windows/$record" || fail "the Windows record has no line \"$line\""
done
for line in "Library qt6-base: .*, the system's" "Tool tar: .*[0-9]" "Tool gzip: .*[0-9]" "Package ca-certificates: [0-9]"; do
  grep -q "^$line" "$work/linux/$record" || fail "the Linux record has no line \"$line\""
done
ok "both packages, and the records and component lists beside them, name this commit, its time, the libraries and the tools"

for package in windows linux; do
  program=$work/$package/zarvik/zarvik$([ "$package" = linux ] || echo .exe)
  grep -q -a -F "$shipped_url" "$program" || fail "the $package program does not hold $shipped_url"
  ! grep -q -a -F "$earlier_url" "$program" ||
    fail "the $package program reports to $earlier_url, which only an earlier build in its folder was given"
  grep -q -x -F "Upload-URL: $shipped_url" "$work/$package/$record" &&
    ! grep -q '^Build-Option:' "$work/$package/$record" ||
    fail "the $package record does not say it reports to $shipped_url with no build option"
done
ok "both programs report to $shipped_url, whatever an earlier build in their folder was given, and their records say so"
bash "$root/tests/package/licence_texts.sh" "$work/windows/zarvik" "$work/linux/zarvik" ||
  fail "a licence that a component list names has no text under licenses/"

# altered FROM EDIT: prints the path of a copy of the windows or linux
# package with EDIT (a sed script for its record, "drop" or "truncate").
altered() {
  local copy=$work/altered/$2-$RANDOM out
  out=$copy/zarvik$([ "$1" = windows ] && echo .zip || echo .tar.gz)
  mkdir -p "$copy"
  if [ "$2" = truncate ]; then
    head -c 20000 "$([ "$1" = windows ] && echo "$zip" || echo "$tgz")" >"$out"
  else
    cp -a "$work/$1/zarvik" "$copy/"
    if [ "$2" = drop ]; then rm "$copy/$record"; else sed -i "$2" "$copy/$record"; fi
    if [ "$1" = windows ]; then
      (cd "$copy" && zip -q -r "$out" zarvik)
    else
      tar -czf "$out" -C "$copy" zarvik
    fi
  fi
  echo "$out"
}
# Each refusal: the package, what its message must say, how many lines it
# may take, and the PATH it is checked with (this one unless given). Nothing
# is built, and the temporary worktree goes.
rebuild_tmp=$work/rebuild-tmp
mkdir -p "$rebuild_tmp" "$work/no-unzip"
for tool in /usr/bin/*; do [ "${tool##*/}" = unzip ] || ln -s "$tool" "$work/no-unzip/"; done
clean="s/^Tree: .*/Tree: clean/"
while IFS='|' read -r package expected lines path; do
  status=0
  PATH=${path:-$PATH} TMPDIR=$rebuild_tmp timeout 120 bash "$root/scripts/rebuild_check.sh" "$package" \
    >"$work/refusal" 2>&1 || status=$?
  [ "$status" -eq 1 ] && grep -q -E "$expected" "$work/refusal" && [ "$(wc -l <"$work/refusal")" -le "$lines" ] ||
    fail "rebuild_check.sh $package (status $status) did not say \"$expected\" in $lines lines: $(cat "$work/refusal")"
  [ -z "$(ls -A "$rebuild_tmp")" ] && ! git -C "$root" worktree list | grep -q -F "$rebuild_tmp" ||
    fail "rebuild_check.sh $package left its temporary worktree behind"
done <<EOF_REFUSALS
$(altered windows drop)|holds no build record|1
$zip|needs unzip, which is not installed|1|$work/no-unzip
$(altered linux truncate)|is damaged|1
$(altered windows truncate)|is damaged|1
$(altered linux "s/^Commit: .*/Commit: $(printf '0%.0s' {1..40})/; $clean")|which this checkout .* does not have|1
$(altered linux "s/^Tree: .*/Tree: dirty (changes not committed)/")|with changes not committed|1
$(altered windows "s/^Tool zip: .*/Tool zip: Zip 9.9/; $clean")|^  Tool zip: recorded Zip 9.9; here .*Zip 3|3
$(altered windows "s/^Library cache: .*/Library cache: sorts after \/usr\/x86_64-w64-mingw32/; $clean")|^  Library cache: recorded sorts after .*; here sorts before|4
$(altered linux "s/^Package ca-certificates: .*/Package ca-certificates: 1/; $clean")|^  Package ca-certificates: recorded 1; here|3
EOF_REFUSALS
# Stopped while it rebuilds, it stops the build and cleans up just the same.
TMPDIR=$rebuild_tmp timeout 300 bash "$root/scripts/rebuild_check.sh" "$(altered linux "$clean")" >"$work/stopped" 2>&1 &
checker=$!
rebuilding() { compgen -G "$rebuild_tmp/*/build/CMakeCache.txt" >/dev/null; }
for _ in $(seq 120); do
  rebuilding && break
  kill -0 "$checker" 2>/dev/null || fail "rebuild_check.sh ended before it rebuilt: $(tail -n 3 "$work/stopped")"
  sleep 1
done
rebuilding || fail "rebuild_check.sh did not start rebuilding within 120 seconds"
# Stopped as timeout or a terminal stops it: more than once, and again while
# it cleans up, which must not cut its clean-up short.
for _ in $(seq 600); do
  kill -TERM "$checker" 2>/dev/null || break
  sleep 0.1
done
status=0
wait "$checker" || status=$?
checker=
[ "$status" -eq 143 ] || fail "rebuild_check.sh stopped mid-build ended with status $status, not 143"
[ -z "$(ls -A "$rebuild_tmp")" ] && ! git -C "$root" worktree list | grep -q -F "$rebuild_tmp" ||
  fail "rebuild_check.sh stopped mid-build left its temporary worktree behind"
ok "rebuild_check.sh refuses packages it cannot rebuild the same, naming why, and leaves nothing behind"

