// SPDX-License-Identifier: GPL-3.0-or-later
// The core of every strip copy: which lines of a band land where in the streak image, and
// the loops that move them, for any pixel type. The window's strips (w + 1 lines placed w
// apart on 32-bit panes) and velmora-scan's (W lines placed W apart at full depth) are both
// this code with their own numbers and their own way of moving a run of pixels.
#pragma once
#include <algorithm>
#include <cstdint>

namespace strips {

enum class Cut { vertical, horizontal };

// A plane of pixels, rows `stride` pixels apart.
template <class Pixel>
struct Plane {
  Pixel* pixels = nullptr;
  int64_t width = 0;
  int64_t height = 0;
  int64_t stride = 0;
};

// Which lines j = 0 .. count - 1 of the band get drawn, and where.
// Destinations are worked out in 64 bits: 16-bit products would wrap and land inside the pane.
struct Lines {
  int64_t start = 0;    // destination of line 0
  int64_t first_j = 0;  // lines first_j .. last_j (inclusive) are written
  int64_t last_j = -1;
  bool reached_edge = false;
};

// Strip `index` of `count` lines whose strips start `pitch` apart. A run stops after the
// first line whose destination reaches `edge`; nothing lands at or past `destination_size`.
inline Lines drawn_lines(int64_t count, int64_t pitch, int64_t index, int64_t edge,
                         int64_t destination_size) {
  Lines lines;
  if (count <= 0) return lines;
  const int64_t last = count - 1;
  lines.start = pitch * index;
  int64_t processed_last = last;
  if (lines.start + last >= edge) {
    lines.reached_edge = true;
    processed_last = std::max<int64_t>(0, edge - lines.start);
  }
  lines.first_j = std::max<int64_t>(0, -lines.start);
  lines.last_j = std::min<int64_t>(processed_last, destination_size - 1 - lines.start);
  return lines;
}

// A run of `count` destination pixels fed from source columns from .. from + count - 1:
// `lead` pixels before the source, `inside` copied ones, then the rest beyond it.
struct Run {
  int64_t lead = 0;
  int64_t inside = 0;
  int64_t count = 0;
};

inline Run run_of(int64_t source_width, int64_t from, int64_t count) {
  Run run;
  run.count = count;
  run.lead = std::clamp<int64_t>(-from, 0, count);
  run.inside = std::clamp<int64_t>(source_width - from, run.lead, count) - run.lead;
  return run;
}

// Lines first .. of `source` into `target` as strip `index`, columns for a vertical cut and
// rows for a horizontal one. `move(source_run_or_null, run, target_run)` copies one run; a
// null source is a row beyond the source. True when the strip reached `edge`.
template <class Pixel, class Move>
bool copy_lines(const Plane<const Pixel>& source, const Plane<Pixel>& target, Cut cut,
                int64_t first, int64_t count, int64_t pitch, int64_t index, int64_t edge,
                Move move) {
  if (cut == Cut::vertical) {
    const Lines lines = drawn_lines(count, pitch, index, edge, target.width);
    const int64_t from = first + lines.first_j;
    const Run run = run_of(source.width, from, lines.last_j - lines.first_j + 1);
    if (run.count > 0) {
      const int64_t rows = std::min(source.height, target.height);
      for (int64_t y = 0; y < rows; ++y)
        move(source.pixels + y * source.stride + from, run,
             target.pixels + y * target.stride + lines.start + lines.first_j);
    }
    return lines.reached_edge;
  }
  const Lines lines = drawn_lines(count, pitch, index, edge, target.height);
  const Run run = run_of(source.width, 0, std::min(source.width, target.width));
  for (int64_t j = lines.first_j; j <= lines.last_j; ++j) {
    const int64_t y = first + j;
    const bool inside = y >= 0 && y < source.height;
    move(inside ? source.pixels + y * source.stride : nullptr, run,
         target.pixels + (lines.start + j) * target.stride);
  }
  return lines.reached_edge;
}

}  // namespace strips
