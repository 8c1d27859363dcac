// One strip's copy against a plain copy of the same pixels (row by row, memcpy).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "composite/strip_copy.h"

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
  host::PixelBuffer source() { return {capture.data(), kWidth, kHeight, kWidth}; }
  host::PixelBuffer target() { return {composite.data(), kWidth, kHeight, kWidth}; }
};

// Band width w: a strip is w + 1 lines, placed at kIndex * w.
void BM_StripVertical(benchmark::State& state) {
  Panes panes;
  const int16_t w = static_cast<int16_t>(state.range(0));
  for (auto _ : state) {
    composite::copy_strip(panes.source(), panes.target(), composite::Cut::vertical,
                          {kFirst, int16_t(kFirst + w)}, kIndex);
    benchmark::DoNotOptimize(panes.composite.data());
  }
  state.SetItemsProcessed(state.iterations() * (w + 1) * kHeight);
}

void BM_PlainCopyVertical(benchmark::State& state) {
  Panes panes;
  const int w = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int y = 0; y < kHeight; ++y) {
      std::memcpy(&panes.composite[y * kWidth + kIndex * w], &panes.capture[y * kWidth + kFirst],
                  (w + 1) * sizeof(uint32_t));
    }
    benchmark::DoNotOptimize(panes.composite.data());
  }
  state.SetItemsProcessed(state.iterations() * (w + 1) * kHeight);
}

void BM_StripHorizontal(benchmark::State& state) {
  Panes panes;
  const int16_t w = static_cast<int16_t>(state.range(0));
  for (auto _ : state) {
    composite::copy_strip(panes.source(), panes.target(), composite::Cut::horizontal,
                          {kFirst, int16_t(kFirst + w)}, kIndex);
    benchmark::DoNotOptimize(panes.composite.data());
  }
  state.SetItemsProcessed(state.iterations() * (w + 1) * kWidth);
}

void BM_PlainCopyHorizontal(benchmark::State& state) {
  Panes panes;
  const int w = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int j = 0; j <= w; ++j) {
      std::memcpy(&panes.composite[(kIndex * w + j) * kWidth],
                  &panes.capture[(kFirst + j) * kWidth], kWidth * sizeof(uint32_t));
    }
    benchmark::DoNotOptimize(panes.composite.data());
  }
  state.SetItemsProcessed(state.iterations() * (w + 1) * kWidth);
}

BENCHMARK(BM_StripVertical)->Arg(10)->Arg(40);
BENCHMARK(BM_PlainCopyVertical)->Arg(10)->Arg(40);
BENCHMARK(BM_StripHorizontal)->Arg(10)->Arg(20);
BENCHMARK(BM_PlainCopyHorizontal)->Arg(10)->Arg(20);

}  // namespace

BENCHMARK_MAIN();
