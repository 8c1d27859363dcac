#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks every `#include "folder/..."` of the tree against the import table in README.md
# (the rows after the header "| folder | may include |"): a file may include its own
# folder and the folders its row names in backticks; "anything" allows every folder.
# A source file in no folder of the table, or an include of a folder not allowed (or a
# path that climbs with ..), is reported and fails the check.
#   check_includes.sh [ROOT]     ROOT defaults to the repository holding this script
set -euo pipefail
root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
cd "$root"

table=$(awk '
  /^\| folder \| may include \|/ { inside = 1; next }
  inside && /^\|---/ { next }
  inside && /^\|/ {
    split($0, cell, "|")
    folder = cell[2]; allowed = cell[3]
    gsub(/[ `]/, "", folder)
    line = folder
    while (match(allowed, /`[^`]+\/`/)) {
      line = line " " substr(allowed, RSTART + 1, RLENGTH - 2)
      allowed = substr(allowed, RSTART + RLENGTH)
    }
    if (allowed ~ /anything/ || cell[3] ~ /anything/) line = line " ANY"
    print line
    next
  }
  inside { exit }' README.md)
if [ -z "$table" ]; then
  echo "README.md has no import table (| folder | may include |)" >&2
  exit 1
fi

# The longest folder of the table that `path` lies in, or nothing.
folder_of() {
  local best=""
  while read -r folder _; do
    case $1 in "$folder"*) [ ${#folder} -gt ${#best} ] && best=$folder ;; esac
  done <<<"$table"
  printf '%s' "$best"
}

allowed_by() {
  awk -v f="$1" '$1 == f { for (i = 2; i <= NF; ++i) print $i }' <<<"$table"
}

bad=0
while IFS= read -r file; do
  own=$(folder_of "$file")
  if [ -z "$own" ]; then
    echo "$file: its folder has no row in README's import table"
    bad=1
    continue
  fi
  allowed=$(allowed_by "$own")
  while IFS= read -r hit; do
    line=${hit%%:*}
    included=${hit#*:}
    case $included in */*) ;; *) continue ;; esac  # a header beside the file
    if [[ $included == ../* || $included == */../* ]]; then
      echo "$file:$line: includes \"$included\" by climbing out of its folder"
      bad=1
      continue
    fi
    target=$(folder_of "$included")
    [ -n "$target" ] || target=${included%%/*}/  # a folder outside the table (generated)
    [ "$target" = "$own" ] && continue
    ok=0
    for a in $allowed; do
      if [ "$a" = ANY ] || [ "$a" = "$target" ]; then ok=1; fi
    done
    if [ $ok = 0 ]; then
      echo "$file:$line: $own may not include \"$included\" (README's import table)"
      bad=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
           sed -E 's/^([0-9]+):[^"]*"([^"]+)".*/\1:\2/')
done < <(git ls-files -co --exclude-standard -- '*.h' '*.cpp' | grep -v '^tests/data/')

if [ $bad = 0 ]; then echo "every include follows README's import table"; fi
exit $bad
