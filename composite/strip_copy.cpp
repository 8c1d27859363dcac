#include "composite/strip_copy.h"

#include <algorithm>

namespace composite {
namespace {

constexpr uint32_t kWhite = 0xffffffffu;
constexpr uint32_t kOpaque = 0xff000000u;

// Which lines j = 0 .. w of the band (w = last - first) get drawn, and where.
// Destinations are worked out in 64 bits: 16-bit products would wrap and land inside the pane.
struct Lines {
  int64_t start = 0;      // destination of line 0
  int64_t first_j = 0;    // lines first_j .. last_j (inclusive) are written
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

// `count` pixels from source column `from` of one source row (null: a row beyond the capture),
// white where the column lies beyond it.
void copy_run(const uint32_t* source_row, int source_width, int64_t from, uint32_t* target,
              int64_t count) {
  int64_t i = 0;
  if (source_row != nullptr) {
    const int64_t inside_from = std::clamp<int64_t>(-from, 0, count);
    const int64_t inside_to = std::clamp<int64_t>(source_width - from, inside_from, count);
    for (; i < inside_from; ++i) target[i] = kWhite;
    for (; i < inside_to; ++i) target[i] = source_row[from + i] | kOpaque;
  }
  for (; i < count; ++i) target[i] = kWhite;
}

const uint32_t* row_of(const host::PixelBuffer& buffer, int64_t y) {
  if (y < 0 || y >= buffer.height) return nullptr;
  return buffer.pixels + y * buffer.stride;
}

bool copy_vertical(const host::PixelBuffer& capture, const host::PixelBuffer& composite,
                   Band band, int16_t index) {
  const Lines lines = drawn_lines(band, index, capture.width, composite.width);
  const int64_t count = lines.last_j - lines.first_j + 1;
  if (count > 0) {
    const int rows = std::min(capture.height, composite.height);
    for (int y = 0; y < rows; ++y) {
      uint32_t* target = composite.pixels + int64_t{y} * composite.stride;
      copy_run(row_of(capture, y), capture.width, band.first + lines.first_j,
               target + lines.start + lines.first_j, count);
    }
  }
  return lines.reached_edge;
}

bool copy_horizontal(const host::PixelBuffer& capture, const host::PixelBuffer& composite,
                     Band band, int16_t index) {
  const Lines lines = drawn_lines(band, index, capture.height, composite.height);
  const int columns = std::min(capture.width, composite.width);
  for (int64_t j = lines.first_j; j <= lines.last_j; ++j) {
    uint32_t* target = composite.pixels + (lines.start + j) * composite.stride;
    copy_run(row_of(capture, band.first + j), capture.width, 0, target, columns);
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
