#!/usr/bin/env bash
# Every text the program can show the player (ui/texts.h) stands word for
# word in the English table of what the boxes mean and in the Turkish one,
# so that a text changed in one place only fails here:
#   texts_test.sh TEXTS_H DOCUMENT HEADING [DOCUMENT HEADING]...
# A table is the part of DOCUMENT from the line HEADING to the next "## "
# heading or two blank lines in a row. Line breaks and runs of blanks count
# as one blank, as the Turkish text is wrapped to fit Notepad.
set -euo pipefail
# shellcheck source=testkit/checks.sh
source "$(dirname "$0")/../../testkit/checks.sh"
texts_h=$1
shift


# NAME<TAB>TEXT for each `inline constexpr char NAME[] = "..." "...";`,
# adjacent literals joined as the compiler joins them.
texts=$(awk '
  /^inline constexpr char [A-Za-z0-9_]+\[\] =/ {
    name = $4
    sub(/\[\]$/, "", name)
    text = ""
    open = 1
  }
  open {
    line = $0
    rest = ""
    while (match(line, /"[^"]*"/)) {
      rest = rest substr(line, 1, RSTART - 1)
      text = text substr(line, RSTART + 1, RLENGTH - 2)
      line = substr(line, RSTART + RLENGTH)
    }
    rest = rest line
    if (rest ~ /;/) {
      print name "\t" text
      open = 0
    }
  }' "$texts_h")
[ -n "$texts" ] || fail "no texts read from $texts_h"
! grep -q -F "\\" <<<"$texts" || fail "$texts_h has an escape sequence, which this test does not read"

one_line() { tr '\r\n\t' '   ' | tr -s ' ' | sed 's/^ //; s/ $//'; }

failed=0
while [ $# -ge 2 ]; do
  document=$1 heading=$2
  shift 2
  table=$(awk -v heading="$heading" '
    $0 == heading { inside = 1; next }
    inside && (/^## / || (blank && /^\r?$/)) { exit }
    inside { print; blank = /^\r?$/ }' "$document" | one_line)
  [ -n "$table" ] || fail "$document has no table under \"$heading\""
  missing=0
  while IFS=$'\t' read -r name text; do
    text=$(one_line <<<"$text")
    if ! grep -q -F -- "$text" <<<"$table"; then
      echo "FAIL: $document, under \"$heading\", lacks texts::$name: \"$text\"" >&2
      missing=$((missing + 1))
    fi
  done <<<"$texts"
  if [ "$missing" -gt 0 ]; then
    failed=1
    continue
  fi
  ok "all $(wc -l <<<"$texts") texts of $texts_h stand under \"$heading\" in $document"
done
[ $# -eq 0 ] || fail "a DOCUMENT without its HEADING: $1"
exit "$failed"
