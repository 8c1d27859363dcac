#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds a fuzzer with clang and runs it on a fresh copy of its seeds.
#   tests/fuzz/run.sh [SECONDS] [command|clip|parsers]     default 90 s, the command fuzzer
# FUZZ_BUILD_DIR defaults to <repo>/build-fuzz.
#   command: the service's command parser and conversations with it; seeds in corpus/.
#   clip:    arbitrary bytes as a clip file through service::Clip; seeds are the real clips of
#            tests/data/avi/ and the clips and broken clips the fuzzer writes at start-up.
#   parsers: velmora-scan's readers of EXIF, dates in file names, image listings and
#            patterns, JPEG areas, its command line, ImageJ selections and an OME-TIFF's
#            OME-XML; seeds in corpus-parsers/ (made by make_parser_seeds.py) and past
#            findings in tests/data/parsers-fuzz/.
# Fails when the fuzzer finds a crash, a leak, a broken promise, an input slower than the
# time limit or one that needs more memory than the limit; the input is kept in the build
# folder as crash-*, leak-*, timeout-* or oom-*.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
seconds=${1:-90}
which=${2:-command}
build_dir=${FUZZ_BUILD_DIR:-$here/build-fuzz}
case $which in command|clip|parsers) ;; *) echo "usage: $0 [SECONDS] [command|clip|parsers]" >&2; exit 2 ;; esac

cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVELMORA_FUZZ=ON -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF >/dev/null
cmake --build "$build_dir" --target "${which}_fuzzer" -j "$(nproc)"

# The fuzzer adds what it learns to its corpus; the seeds in the tree stay as they are.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
limits=(-timeout=20 -rss_limit_mb=2048)
if [ "$which" = command ]; then
  cp "$here"/tests/fuzz/corpus/* "$work"/
  echo "== fuzzing the command parser and the service for $seconds s"
elif [ "$which" = parsers ]; then
  cp "$here"/tests/fuzz/corpus-parsers/* "$here"/tests/data/parsers-fuzz/* "$work"/
  # The readers take small inputs (a name, a command line, a picture's headers and EXIF):
  # 8 KiB holds every seed with room to grow.
  limits=(-timeout=10 -rss_limit_mb=2048 -max_len=8192)
  echo "== fuzzing velmora-scan's readers for $seconds s"
else
  cp "$here"/tests/data/avi/*.[aA][vV][iI] "$work"/
  export VELMORA_CLIP_SEEDS=$work
  # Longer inputs only make FFmpeg slower per run, not the search wiser: at 16 KiB the
  # fuzzer runs ten times as many inputs as at 64 KiB and reaches more of our code; the
  # small seeds fit whole, the real clips are cut short. FFmpeg needs far less than 10 s
  # on a file this small, so an input that takes longer is a hang.
  limits=(-timeout=10 -rss_limit_mb=2048 -max_len=16384)
  echo "== fuzzing clip files through service::Clip for $seconds s"
fi
"$build_dir/tests/fuzz/${which}_fuzzer" -max_total_time="$seconds" "${limits[@]}" \
  -print_final_stats=1 -artifact_prefix="$build_dir/" "$work"
