#!/usr/bin/env bash
# Every link in the documents given leads somewhere: a relative link to a
# file or folder that exists, and a link with "#anchor" to a heading of that
# Markdown file (or of the same one), named as GitHub names headings.
#   links_test.sh DOCUMENT...
# Links to other sites are not fetched.
set -euo pipefail
broken=0 links=0

# The anchors of a Markdown file's headings, outside code blocks: lower case,
# punctuation dropped, blanks as hyphens; a repeated one gets -1, -2, ...
anchors() {
  awk '
    /^```/ { code = !code; next }
    !code && /^#+ / {
      text = tolower($0)
      sub(/^#+ +/, "", text)
      gsub(/[^a-z0-9 _-]/, "", text)
      gsub(/ /, "-", text)
      if (text in seen) { seen[text]++; text = text "-" seen[text] } else { seen[text] = 0 }
      print text
    }' "$1"
}

for document in "$@"; do
  folder=$(dirname "$document")
  # Inline links, [text](target), outside code blocks and code spans.
  targets=$(awk '
    /^```/ { code = !code; next }
    !code {
      line = $0
      gsub(/`[^`]*`/, "", line)
      while (match(line, /\]\([^) ]+\)/)) {
        print substr(line, RSTART + 2, RLENGTH - 3)
        line = substr(line, RSTART + RLENGTH)
      }
    }' "$document")
  while IFS= read -r target; do
    [ -n "$target" ] || continue
    case "$target" in http://* | https://* | mailto:*) continue ;; esac
    links=$((links + 1))
    path=${target%%#*}
    file=$document
    [ -z "$path" ] || file=$folder/$path
    if [ ! -e "$file" ]; then
      echo "FAIL: $document links to $target: no such file" >&2
      broken=$((broken + 1))
    elif [[ "$target" == *"#"* ]] && ! anchors "$file" | grep -q -x -F -- "${target#*#}"; then
      echo "FAIL: $document links to $target: $file has no such heading" >&2
      broken=$((broken + 1))
    fi
  done <<<"$targets"
done
[ "$broken" -eq 0 ] || exit 1
echo "ok: all $links links in $# documents lead to a file or heading that exists"
