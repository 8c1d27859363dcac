#include "composite/strip_copy.h"

#include <algorithm>

namespace composite {
namespace {

constexpr uint32_t kWhite = 0xffffffffu;
constexpr uint32_t kOpaque = 0xff000000u;

// Which lines j = 0 .. w of the band (w = last - first) get drawn, and where.
// Destinations are worked out in 64 bits: 16-bit products would wrap and land inside the pane.
struct Lines {
  int64_t start = 0;    // destination of line 0
  int64_t first_j = 0;  // lines first_j .. last_j (inclusive) are written
  int64_t last_j = -1;
  bool reached_edge = false;
};

Lines drawn_lines(Band band, int16_t index, int edge, int destination_size) {
  Lines lines;
  const int64_t w = int64_t{band.last} - band.first;
  if (w < 0) return lines;  // bounds out of order: the band has no line
  lines.start = w * index;
  int64_t processed_last = w;
  if (lines.start + w >= edge) {
    // The run stops after the first line whose destination reaches the edge.
    lines.reached_edge = true;
    processed_last = std::max<int64_t>(0, edge - lines.start);
  }
  lines.first_j = std::max<int64_t>(0, -lines.start);
  lines.last_j = std::min<int64_t>(processed_last, destination_size - 1 - lines.start);
  return lines;
}

// A run of `count` destination pixels fed from source columns from .. from + count - 1:
// `lead` white pixels, `inside` copied ones, then white again, the same for every row.
struct Run {
  int64_t lead = 0;
  int64_t inside = 0;
  int64_t count = 0;
};

Run run_of(int source_width, int64_t from, int64_t count) {
  Run run;
  run.count = count;
  run.lead = std::clamp<int64_t>(-from, 0, count);
  run.inside = std::clamp<int64_t>(source_width - from, run.lead, count) - run.lead;
  return run;
}

// Four pixels to a block, restrict-qualified: the compiler copies a block in one go
// even where it does not vectorise loops.
inline void copy_opaque(const uint32_t* __restrict source, uint32_t* __restrict target,
                        int64_t count) {
  int64_t i = 0;
  for (; i + 4 <= count; i += 4) {
    target[i] = source[i] | kOpaque;
    target[i + 1] = source[i + 1] | kOpaque;
    target[i + 2] = source[i + 2] | kOpaque;
    target[i + 3] = source[i + 3] | kOpaque;
  }
  for (; i < count; ++i) target[i] = source[i] | kOpaque;
}

// `source_row` starts at the run's first column; null for a row beyond the capture.
inline void copy_run(const uint32_t* source_row, const Run& run, uint32_t* target) {
  if (source_row != nullptr && run.inside == run.count) {
    copy_opaque(source_row, target, run.count);  // the usual case: the band lies inside
    return;
  }
  if (source_row == nullptr) {
    std::fill(target, target + run.count, kWhite);
    return;
  }
  std::fill(target, target + run.lead, kWhite);
  copy_opaque(source_row + run.lead, target + run.lead, run.inside);
  std::fill(target + run.lead + run.inside, target + run.count, kWhite);
}

bool copy_vertical(const host::PixelBuffer& capture, const host::PixelBuffer& composite, Band band,
                   int16_t index) {
  const Lines lines = drawn_lines(band, index, capture.width, composite.width);
  const int64_t from = band.first + lines.first_j;
  const Run run = run_of(capture.width, from, lines.last_j - lines.first_j + 1);
  if (run.count > 0) {
    const int rows = std::min(capture.height, composite.height);
    for (int y = 0; y < rows; ++y) {
      const uint32_t* source = capture.pixels + int64_t{y} * capture.stride + from;
      uint32_t* target = composite.pixels + int64_t{y} * composite.stride;
      copy_run(source, run, target + lines.start + lines.first_j);
    }
  }
  return lines.reached_edge;
}

bool copy_horizontal(const host::PixelBuffer& capture, const host::PixelBuffer& composite,
                     Band band, int16_t index) {
  const Lines lines = drawn_lines(band, index, capture.height, composite.height);
  const Run run = run_of(capture.width, 0, std::min(capture.width, composite.width));
  for (int64_t j = lines.first_j; j <= lines.last_j; ++j) {
    const int64_t y = band.first + j;
    const bool inside = y >= 0 && y < capture.height;
    const uint32_t* source = inside ? capture.pixels + y * capture.stride : nullptr;
    copy_run(source, run, composite.pixels + (lines.start + j) * composite.stride);
  }
  return lines.reached_edge;
}

}  // namespace

bool copy_strip(const host::PixelBuffer& capture, const host::PixelBuffer& composite, Cut cut,
                Band band, int16_t index) {
  if (cut == Cut::vertical) return copy_vertical(capture, composite, band, index);
  return copy_horizontal(capture, composite, band, index);
}

}  // namespace composite
