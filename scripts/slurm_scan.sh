#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# One task of a Slurm job array that makes the streak images of a list of clips. Task i of
# N takes lines i + 1, i + 1 + N, i + 1 + 2N, ... of LIST (one clip a line), so that the
# tasks share the list without overlap; each image goes into OUT_DIR under its clip's name.
#   sbatch --array=0-7 scripts/slurm_scan.sh LIST OUT_DIR [velmora-scan options]
# A clip whose image is there already is skipped (--skip-existing): submitting the same
# array again redoes only what failed or is missing. Each task decodes with the cores Slurm
# gave it (--cpus-per-task). Outside Slurm, SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT
# (and SLURM_ARRAY_TASK_MIN for an array that does not start at 0) run one task by hand.
# VELMORA_SCAN names the program (default: velmora-scan on PATH), EXT the image's ending
# (png, the default, or tif). Exits with 0 when every clip of the task has its image.
#SBATCH --job-name=velmora-scan
#SBATCH --cpus-per-task=2
#SBATCH --output=velmora-scan-%A_%a.log
set -euo pipefail
usage="usage: sbatch --array=0-N scripts/slurm_scan.sh LIST OUT_DIR [velmora-scan options]"
list=${1:?$usage}
out=${2:?$usage}
shift 2
: "${SLURM_ARRAY_TASK_ID:?not an array task ($usage)}"
count=${SLURM_ARRAY_TASK_COUNT:?not an array task ($usage)}
task=$((SLURM_ARRAY_TASK_ID - ${SLURM_ARRAY_TASK_MIN:-0}))
scan=${VELMORA_SCAN:-velmora-scan}
ext=${EXT:-png}
mkdir -p "$out"

failed=0
number=0
while IFS= read -r clip || [ -n "$clip" ]; do
  number=$((number + 1))
  [ $(((number - 1) % count)) -eq "$task" ] && [ -n "$clip" ] || continue
  name=$(basename "$clip")
  # velmora-scan says why a clip failed; the task goes on with its next one.
  "$scan" --skip-existing --threads "${SLURM_CPUS_PER_TASK:-2}" "$@" \
    "$clip" "$out/${name%.*}.$ext" || failed=1
done <"$list"
exit "$failed"
