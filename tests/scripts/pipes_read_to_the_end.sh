#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Under `set -o pipefail` a reader that stops early (head, grep -q, awk's exit) can kill the
# writer before it with SIGPIPE, and the pipe then fails now and then, at random. Lists every
# such pipe in the project's bash scripts; a pipe whose failure is ignored (`|| true`) passes.
set -euo pipefail
root=${1:?usage: $0 SOURCE_DIR}
cd "$root"
bad=0
while IFS= read -r script; do
  grep -q 'pipefail' "$script" || continue
  while IFS= read -r hit; do
    echo "$script:$hit" >&2
    bad=1
  done < <(grep -nE '\|[[:space:]]*(head|grep[[:space:]]+(-[[:alnum:]]*[qm]|--quiet|--max-count)|awk[^|]*[{;[:space:]]exit\b)' "$script" |
             grep -vE '\|\|[[:space:]]*true' || true)
done < <(grep -rlE '^#!.*(bash|sh)' tests scripts bench .ci dev.sh 2>/dev/null || true)
[ "$bad" = 0 ] || { echo "FAIL: these pipes stop reading early under pipefail" >&2; exit 1; }
echo "every pipe is read to its end"
