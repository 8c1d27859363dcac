// SPDX-License-Identifier: GPL-3.0-or-later
// One strip's copy against a plain copy of the same pixels (row by row, memcpy).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "strips/strip_copy.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int16_t kFirst = 100;
constexpr int16_t kIndex = 5;

struct Panes {
  std::vector<uint32_t> capture = std::vector<uint32_t>(kWidth * kHeight);
  std::vector<uint32_t> composite = std::vector<uint32_t>(kWidth * kHeight, 0xffffffffu);
  Panes() {
    for (int i = 0; i < kWidth * kHeight; ++i) capture[i] = 0xff000000u | uint32_t(i * 2654435761u);
  }
  strips::Plane<const uint32_t> source() { return {capture.data(), kWidth, kHeight, kWidth}; }
  strips::Plane<uint32_t> target() { return {composite.data(), kWidth, kHeight, kWidth}; }
};

// Band width w: a strip is w + 1 lines of `line_pixels`, placed at kIndex * w.
void copy_strips(benchmark::State& state, strips::Cut cut, int line_pixels) {
  Panes panes;
  const int16_t w = static_cast<int16_t>(state.range(0));
  for (auto _ : state) {
    strips::copy_strip(panes.source(), panes.target(), cut, {kFirst, int16_t(kFirst + w)},
                          kIndex);
    benchmark::DoNotOptimize(panes.composite.data());
  }
  state.SetItemsProcessed(state.iterations() * (w + 1) * line_pixels);
}

// The same pixels as `rows` memcpy calls of `pixels` each, row r from source_at(r) of the
// capture to target_at(r) of the composite.
template <class SourceAt, class TargetAt>
void plain_copies(benchmark::State& state, int rows, int pixels, SourceAt source_at,
                  TargetAt target_at) {
  Panes panes;
  for (auto _ : state) {
    for (int r = 0; r < rows; ++r) {
      std::memcpy(&panes.composite[target_at(r)], &panes.capture[source_at(r)],
                  pixels * sizeof(uint32_t));
    }
    benchmark::DoNotOptimize(panes.composite.data());
  }
  state.SetItemsProcessed(state.iterations() * rows * pixels);
}

void BM_StripVertical(benchmark::State& state) {
  copy_strips(state, strips::Cut::vertical, kHeight);
}

void BM_PlainCopyVertical(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  plain_copies(
      state, kHeight, w + 1, [](int y) { return y * kWidth + kFirst; },
      [w](int y) { return y * kWidth + kIndex * w; });
}

void BM_StripHorizontal(benchmark::State& state) {
  copy_strips(state, strips::Cut::horizontal, kWidth);
}

void BM_PlainCopyHorizontal(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  plain_copies(
      state, w + 1, kWidth, [](int j) { return (kFirst + j) * kWidth; },
      [w](int j) { return (kIndex * w + j) * kWidth; });
}

BENCHMARK(BM_StripVertical)->Arg(10)->Arg(40);
BENCHMARK(BM_PlainCopyVertical)->Arg(10)->Arg(40);
BENCHMARK(BM_StripHorizontal)->Arg(10)->Arg(20);
BENCHMARK(BM_PlainCopyHorizontal)->Arg(10)->Arg(20);

}  // namespace

BENCHMARK_MAIN();
