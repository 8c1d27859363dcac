#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# ./dev.sh run without a display: one line that says so and how to run it instead, a
# non-zero status, and nothing installed or built first.
set -euo pipefail
dev=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/dev.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

for args in "run" "run velmora3"; do
  code=0
  # shellcheck disable=SC2086  # the words of $args are the arguments
  env -u DISPLAY -u WAYLAND_DISPLAY BUILD_DIR="$scratch/build" bash "$dev" $args \
    >"$scratch/out" 2>&1 || code=$?
  echo "./dev.sh $args: status $code: $(cat "$scratch/out")"
  [ "$code" -ne 0 ] || fail "./dev.sh $args succeeded without a display"
  [ "$(wc -l <"$scratch/out")" -eq 1 ] || fail "./dev.sh $args said more than one line"
  grep -q 'there is no display' "$scratch/out" || fail "./dev.sh $args does not say that there is no display"
  grep -q "xvfb-run .*dev.sh $args" "$scratch/out" || fail "./dev.sh $args does not say how to run it under xvfb-run"
  grep -q 'desktop session' "$scratch/out" || fail "./dev.sh $args does not name a desktop session"
  [ ! -e "$scratch/build" ] || fail "./dev.sh $args built before looking for a display"
done
exit "$status"
