// SPDX-License-Identifier: GPL-3.0-or-later
// Opening, stepping, stepping back, exact seeking and painting a clip, each next to the
// same work done with plain FFmpeg calls.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>

#include "baseline.h"
#include "bench_clips.h"
#include "service/clip.h"
#include "memory_probe.h"
#include "ratio_reporter.h"

namespace {

using bench::bench_clip;

constexpr int out_w = 320, out_h = 240;

std::unique_ptr<service::Clip> open_clip(benchmark::State& state) {
  auto opened = service::Clip::open(bench_clip(state.range(0)).path);
  if (!opened.clip) state.SkipWithError(opened.detail.c_str());
  else opened.clip->set_output_size(out_w, out_h);
  return std::move(opened.clip);
}

void Open(benchmark::State& state) {
  for (auto _ : state) {
    auto opened = service::Clip::open(bench_clip(state.range(0)).path);
    benchmark::DoNotOptimize(opened.clip.get());
  }
}

void BaselineOpen(benchmark::State& state) {
  for (auto _ : state) bench::Baseline baseline(bench_clip(state.range(0)).path);
}

void Step(benchmark::State& state) {
  auto clip = open_clip(state);
  if (!clip) return;
  for (auto _ : state) {
    if (clip->position() == clip->length() - 1) clip->seek(0);
    clip->step_forward();
  }
}

void BaselineStep(benchmark::State& state) {
  bench::Baseline baseline(bench_clip(state.range(0)).path);
  for (auto _ : state)
    if (!baseline.next()) baseline.rewind();
}

// 100 steps back from frame 410, timed; `arrive` brings the clip there untimed.
void steps_back_from_410(benchmark::State& state, void (*arrive)(service::Clip& clip)) {
  auto clip = open_clip(state);
  if (!clip) return;
  for (auto _ : state) {
    state.PauseTiming();
    arrive(*clip);
    state.ResumeTiming();
    for (int i = 0; i < 100; ++i) clip->step_back();
  }
}

// After stepping forward through part of a group, as after playing.
void ReverseStep100(benchmark::State& state) {
  steps_back_from_410(state, [](service::Clip& clip) {
    clip.seek(260);
    for (int i = 0; i < 150; ++i) clip.step_forward();
  });
}

// Right after an exact seek: the first step decodes the group once.
void ReverseStep100AfterSeek(benchmark::State& state) {
  steps_back_from_410(state, [](service::Clip& clip) {
    clip.seek(0);
    clip.seek(410);
  });
}

std::vector<int64_t> random_frames(int64_t length) {
  std::mt19937 random(42);
  std::uniform_int_distribution<int64_t> pick(0, length - 1);
  std::vector<int64_t> frames(64);
  for (auto& f : frames) f = pick(random);
  return frames;
}

void Seek(benchmark::State& state) {
  auto clip = open_clip(state);
  if (!clip) return;
  auto frames = random_frames(clip->length());
  size_t i = 0;
  for (auto _ : state) clip->seek(frames[i++ % frames.size()]);
}

void BaselineSeek(benchmark::State& state) {
  const auto& c = bench_clip(state.range(0));
  bench::Baseline baseline(c.path);
  auto frames = random_frames(c.frames);
  size_t i = 0;
  for (auto _ : state) baseline.seek(frames[i++ % frames.size()]);
}

// Reserving and committing the pool of scaled pictures, once per destination size.
void SetOutputSize(benchmark::State& state) {
  auto clip = open_clip(state);
  if (!clip) return;
  int i = 0;
  for (auto _ : state) clip->set_output_size(out_w + (++i & 1), out_h);
}

void Render(benchmark::State& state) {
  auto clip = open_clip(state);
  if (!clip) return;
  clip->seek(100);
  std::vector<uint32_t> pixels(out_w * out_h);
  for (auto _ : state) clip->render({pixels.data(), out_w, out_h, out_w}, {0, 0, out_w, out_h});
}

void BaselineRender(benchmark::State& state) {
  bench::Baseline baseline(bench_clip(state.range(0)).path);
  for (auto _ : state) baseline.scale();
}

#define CLIPS ->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)
BENCHMARK(Open) CLIPS->Arg(2);
BENCHMARK(BaselineOpen) CLIPS->Arg(2);
BENCHMARK(Step) CLIPS;
BENCHMARK(BaselineStep) CLIPS;
BENCHMARK(ReverseStep100) CLIPS;
BENCHMARK(ReverseStep100AfterSeek) CLIPS;
BENCHMARK(Seek) CLIPS;
BENCHMARK(BaselineSeek) CLIPS;
BENCHMARK(SetOutputSize) CLIPS;
BENCHMARK(Render) CLIPS;
BENCHMARK(BaselineRender) CLIPS;

std::vector<bench::Comparison> comparisons() {
  std::vector<bench::Comparison> rows;
  for (int i = 0; i < 2; ++i) {
    std::string arg = "/" + std::to_string(i), label = std::string(" ") + bench_clip(i).label;
    rows.push_back({"open" + label, "Open" + arg, "BaselineOpen" + arg, 1, 0});
    rows.push_back({"step" + label, "Step" + arg, "BaselineStep" + arg, 1, 1.25});
    rows.push_back({"reverse step (of 100, after stepping forward) vs own step" + label,
                    "ReverseStep100" + arg, "Step" + arg, 100, 2});
    rows.push_back({"reverse step (of 100, right after a seek) vs own step" + label,
                    "ReverseStep100AfterSeek" + arg, "Step" + arg, 100, 2});
    rows.push_back({"random exact seek" + label, "Seek" + arg, "BaselineSeek" + arg, 1, 1.25});
    rows.push_back({"render into 320x240" + label, "Render" + arg, "BaselineRender" + arg, 1, 0});
    rows.push_back({"set output size 320x240 (commits the pool)" + label, "SetOutputSize" + arg, "", 1, 0});
  }
  rows.push_back({"open 1 GB uncompressed 1280x720 clip", "Open/2", "BaselineOpen/2", 1, 0});
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  if (bench::run_probe_if_asked(argc, argv)) return 0;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  bench_clip(0);  // write the clips before anything is timed
  bench::RatioReporter reporter(comparisons());
  for (auto [w, h] : {std::pair{320, 240}, {1280, 720}}) {
    double peak = bench::probe_peak_mb(bench_clip(1).path, w, h);
    char line[200];
    std::snprintf(line, sizeof line,
                  "peak memory, 1280x720 clip open, output %dx%d, stepping back through it: "
                  "%.1f MB (goal <= 200 MB)",
                  w, h, peak);
    reporter.notes.push_back(line);
  }
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
