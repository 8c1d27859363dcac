#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The nightly service and timer pass `systemd-analyze verify` without a word: unknown keys,
# bad values and a missing program all show. The program named in ExecStart is pointed at
# the build's (it is not installed here); what it is asked to do is not run.
# $1 the source tree, $2 the build's velmora-scan. Skipped (77) without systemd-analyze,
# unless CI=true, where it must run.
set -euo pipefail
source_dir=$1
scan=$2
if ! command -v systemd-analyze >/dev/null; then
  if [[ ${CI:-} == true ]]; then
    echo "systemd-analyze is missing (install systemd, as dev.sh does)" >&2
    exit 1
  fi
  echo "skipped: no systemd-analyze" >&2
  exit 77
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$source_dir"/packaging/systemd/velmora-scan-nightly.{service,timer} "$scratch"/
sed -i "s|/usr/bin/velmora-scan |$scan |" "$scratch/velmora-scan-nightly.service"
grep -q "^ExecStart=$scan " "$scratch/velmora-scan-nightly.service"
said=$(systemd-analyze verify --man=no "$scratch"/velmora-scan-nightly.service \
  "$scratch"/velmora-scan-nightly.timer 2>&1) || { echo "$said" >&2; exit 1; }
if [[ -n $said ]]; then
  echo "$said" >&2
  exit 1
fi
echo ok
