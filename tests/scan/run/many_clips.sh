#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A list of clips, one of them broken, through GNU parallel as README's "Many clips, many
# machines" shows it: the good clips give their images, the broken one a failed row in the
# job log, and a rerun with --resume-failed (the clip mended meanwhile) redoes only that
# one. Then scripts/slurm_scan.sh run as array tasks by hand, without Slurm: each task
# takes every N-th line of the list, and goes on past a clip that fails.
#   many_clips.sh VELMORA_SCAN SOURCE_DIR
set -euo pipefail
scan=${1:?usage: many_clips.sh VELMORA_SCAN SOURCE_DIR}
source_dir=${2:?usage: many_clips.sh VELMORA_SCAN SOURCE_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*" >&2; status=1; }
# The program as the README calls it.
mkdir "$work/bin"
ln -s "$scan" "$work/bin/velmora-scan"
export PATH=$work/bin:$PATH

cd "$work"
for i in 1 2 3 4; do
  ffmpeg -nostdin -v error -f lavfi -i "testsrc=s=64x48:d=0.4:r=25" -c:v mjpeg "good$i.avi"
done
echo "these are notes, not a clip" >broken.avi
printf '%s\n' good1.avi broken.avi good2.avi good3.avi >clips.txt
mkdir streaks

# README: velmora-scan's section "Many clips, many machines".
run_list() {
  parallel --will-cite --joblog scan.log --resume-failed \
    velmora-scan --skip-existing --threads 1 {} streaks/{/.}.png :::: clips.txt
}

code=0
run_list || code=$?
[ "$code" -eq 1 ] || fail "parallel's status is $code, not 1 (one job failed)"
[ "$(ls streaks)" = "$(printf '%s\n' good1.png good2.png good3.png)" ] ||
  fail "the images are: $(ls streaks | tr '\n' ' ')"
# The job log's 7th column is the exit value, its last the command.
exit_of() { awk -F '\t' -v clip="$1" 'NR > 1 && $NF ~ " " clip " " { print $7 }' scan.log; }
[ "$(exit_of broken.avi)" != 0 ] && [ -n "$(exit_of broken.avi)" ] ||
  fail "the broken clip's row: '$(exit_of broken.avi)'"
for clip in good1.avi good2.avi good3.avi; do
  [ "$(exit_of "$clip")" = 0 ] || fail "$clip's row: '$(exit_of "$clip")'"
done

cp good4.avi broken.avi
touch -d '2000-01-01' streaks/*.png
code=0
run_list || code=$?
[ "$code" -eq 0 ] || fail "the rerun's status is $code"
[ "$(awk 'NR > 1' scan.log | wc -l)" -eq 5 ] || fail "the rerun ran more than the failed job: $(cat scan.log)"
[ "$(exit_of broken.avi | tail -n 1)" = 0 ] || fail "the mended clip's new row: $(exit_of broken.avi)"
[ -s streaks/broken.png ] || fail "the rerun made no image of the mended clip"
[ -z "$(find streaks -name 'good*.png' -newermt '2000-01-02')" ] || fail "the rerun touched a good clip's image"

# Slurm: 5 lines, 3 tasks. A broken clip on the first line fails task 0, which still
# makes the image of its other line.
echo "these are notes, not a clip" >broken.avi
printf '%s\n' broken.avi good1.avi good2.avi good3.avi good4.avi >clips.txt
slurm_task() {  # TASK_ID [MIN]
  SLURM_ARRAY_TASK_ID=$1 SLURM_ARRAY_TASK_COUNT=3 SLURM_ARRAY_TASK_MIN=${2:-0} \
    SLURM_CPUS_PER_TASK=1 bash "$source_dir/scripts/slurm_scan.sh" clips.txt "task$1" --quiet
}
expect_task() {  # TASK_ID STATUS IMAGES...
  local task=$1 want=$2 code=0
  shift 2
  slurm_task "$task" 2>"task$task.err" || code=$?
  [ "$code" = "$want" ] || fail "task $task's status is $code, not $want: $(cat "task$task.err")"
  [ "$(ls "task$task" | tr '\n' ' ')" = "$* " ] || fail "task $task made: $(ls "task$task" | tr '\n' ' ')"
}
expect_task 0 1 good3.png
expect_task 1 0 good1.png good4.png
expect_task 2 0 good2.png
# An array numbered from 1: its first task takes the first line.
code=0
SLURM_ARRAY_TASK_ID=1 SLURM_ARRAY_TASK_COUNT=3 SLURM_ARRAY_TASK_MIN=1 VELMORA_SCAN=velmora-scan \
  EXT=tif bash "$source_dir/scripts/slurm_scan.sh" clips.txt from-one 2>/dev/null || code=$?
[ "$code" = 1 ] && [ "$(ls from-one | tr '\n' ' ')" = "good3.tif " ] ||
  fail "task 1 of an array from 1: status $code, made $(ls from-one | tr '\n' ' ')"

[ "$status" -eq 0 ] && echo "parallel and the Slurm script ran the list as documented"
exit "$status"
