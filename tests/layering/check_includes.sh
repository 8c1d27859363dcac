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

# One pass over every source file: its folder is the longest of the table its path begins
# with; an include names a folder the same way, or its first component when the table has
# none (a generated folder).
git ls-files -co --exclude-standard -- '*.h' '*.cpp' | grep -v '^tests/data/' |
  awk -v table="$table" -v q="'" '
    BEGIN {
      rows = split(table, row, "\n")
      for (i = 1; i <= rows; ++i) {
        words = split(row[i], word, " ")
        folder[i] = word[1]
        allow[word[1]] = " "
        for (j = 2; j <= words; ++j) allow[word[1]] = allow[word[1]] word[j] " "
      }
    }
    function folder_of(path,   i, best) {
      best = ""
      for (i = 1; i <= rows; ++i)
        if (index(path, folder[i]) == 1 && length(folder[i]) > length(best)) best = folder[i]
      return best
    }
    {
      file = $0
      own = folder_of(file)
      if (own == "") {
        print file ": its folder has no row in README" q "s import table"
        bad = 1
        next
      }
      line = 0
      while ((getline text < file) > 0) {
        ++line
        if (text !~ /^[[:space:]]*#[[:space:]]*include[[:space:]]*"/) continue
        included = text
        sub(/^[^"]*"/, "", included)
        sub(/".*/, "", included)
        if (included !~ /\//) continue  # a header beside the file
        if (included ~ /^\.\.\// || included ~ /\/\.\.\//) {
          print file ":" line ": includes \"" included "\" by climbing out of its folder"
          bad = 1
          continue
        }
        target = folder_of(included)
        if (target == "") { target = included; sub(/\/.*/, "/", target) }
        if (target == own || index(allow[own], " ANY ") || index(allow[own], " " target " ")) continue
        print file ":" line ": " own " may not include \"" included "\" (README" q "s import table)"
        bad = 1
      }
      close(file)
    }
    END {
      if (!bad) print "every include follows README" q "s import table"
      exit bad
    }'
