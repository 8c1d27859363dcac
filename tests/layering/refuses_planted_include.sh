#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The include check must fail on a copy of the tree with one forbidden include planted:
# strips/ may include nothing of ours, so one of its headers includes the decoder.
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
sed -i '0,/#include/s//#include "decode\/media_input.h"\n#include/' "$copy/strips/strip_lines.h"
git -C "$copy" add -A
if out=$(bash "$root/tests/layering/check_includes.sh" "$copy"); then
  echo "a planted include of decode/ in strips/ went unnoticed"
  exit 1
fi
grep -q 'strips/strip_lines.h:.*decode/media_input.h' <<<"$out" ||
  { echo "the check failed without naming the planted include: $out"; exit 1; }
echo "the planted include is refused"
