#!/usr/bin/env bash
# Every licence that a package's component list (licenses/components.spdx)
# names has its text under licenses/, so that a component added without its
# licence fails here:
#   licence_texts.sh FOLDER...   each a package's unpacked zarvik folder
set -euo pipefail
# shellcheck source=testkit/checks.sh
source "$(dirname "$0")/../../testkit/checks.sh"

# SPDX identifier|file under licenses/|a line of that licence's own text
texts="MIT|zarvik.txt|Permission is hereby granted, free of charge
Apache-2.0|Apache-2.0.txt|Apache License
curl|curl.txt|Permission to use, copy, modify, and distribute this software for any purpose
GPL-2.0-only|GPL-2.txt|Version 2, June 1991
GPL-3.0-only|GPL-3.txt|Version 3, 29 June 2007
GPL-3.0-or-later|GPL-3.txt|Version 3, 29 June 2007
GCC-exception-3.1|gcc-runtime.txt|GCC RUNTIME LIBRARY EXCEPTION
LGPL-3.0-only|LGPL-3.txt|GNU LESSER GENERAL PUBLIC LICENSE
MPL-2.0|MPL-2.0.txt|Mozilla Public License Version 2.0"


for folder in "$@"; do
  spdx=$folder/licenses/components.spdx
  [ -s "$spdx" ] || fail "$folder has no licenses/components.spdx"
  # Every identifier of every component's licence expression, once.
  ids=$(sed -n 's/^PackageLicenseDeclared: //p' "$spdx" | tr -s ' ()' '\n' |
    grep -v -x -E 'AND|OR|WITH|' | LC_ALL=C sort -u)
  [ -n "$ids" ] || fail "$spdx names no licence"
  while IFS= read -r id; do
    row=$(awk -F '|' -v id="$id" '$1 == id' <<<"$texts")
    [ -n "$row" ] || fail "$spdx names $id, whose text this test does not know: add it to the package and here"
    IFS='|' read -r _ file line <<<"$row"
    [ -f "$folder/licenses/$file" ] || fail "$spdx names $id, but $folder/licenses/$file is missing"
    grep -q -F -- "$line" "$folder/licenses/$file" ||
      fail "$folder/licenses/$file is not the text of $id (no line \"$line\")"
  done <<<"$ids"
  ok "the texts of all $(wc -l <<<"$ids") licences that $spdx names are under licenses/: $(paste -s -d ' ' <<<"$ids")"
done
