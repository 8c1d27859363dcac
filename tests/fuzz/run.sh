#!/usr/bin/env bash
# Builds the command fuzzer with clang and runs it on a copy of the seed corpus.
#   tests/fuzz/run.sh [SECONDS]     default 90; FUZZ_BUILD_DIR defaults to <repo>/build-fuzz
# Fails when the fuzzer finds a crash, a leak, a broken promise or an input slower than
# 20 s; the input is kept in the build folder as crash-*, leak-* or timeout-*.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
seconds=${1:-90}
build_dir=${FUZZ_BUILD_DIR:-$here/build-fuzz}

cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVELMORA_FUZZ=ON -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF >/dev/null
cmake --build "$build_dir" --target command_fuzzer -j "$(nproc)"

# The fuzzer adds what it learns to its corpus; the seeds in the tree stay as they are.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here"/tests/fuzz/corpus/* "$work"/
echo "== fuzzing the command parser and the service for $seconds s"
"$build_dir/command_fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$build_dir/" "$work"
