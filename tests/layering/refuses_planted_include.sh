#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The include check must fail on a copy of the tree with one forbidden include planted.
set -euo pipefail
root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
git -C "$root" ls-files -co --exclude-standard -z -- '*.h' '*.cpp' README.md |
  (cd "$root" && xargs -0 cp --parents -t "$copy")
git -C "$copy" init -q
git -C "$copy" add -A
bash "$root/tests/layering/check_includes.sh" "$copy" >/dev/null ||
  { echo "the unchanged copy should pass"; exit 1; }
# Each plant, alone on a fresh copy: strips/ may include nothing of ours; velmora-scan's
# output knows nothing of where pictures come from.
for plant in "strips/strip_lines.h decode/media_input.h" \
             "scan/output/png_output.h scan/input/frame_source.h"; do
  read -r file header <<<"$plant"
  git -C "$copy" checkout -q -- .
  sed -i "0,/#include/s//#include \"${header//\//\\/}\"\n#include/" "$copy/$file"
  if out=$(bash "$root/tests/layering/check_includes.sh" "$copy"); then
    echo "a planted include of $header in $file went unnoticed"
    exit 1
  fi
  grep -q "$file:.*$header" <<<"$out" ||
    { echo "the check failed without naming the planted include: $out"; exit 1; }
done
echo "the planted includes are refused"
