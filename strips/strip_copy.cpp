// SPDX-License-Identifier: GPL-3.0-or-later
#include "strips/strip_copy.h"

#include <algorithm>

namespace strips {
namespace {

constexpr uint32_t kWhite = 0xffffffffu;
constexpr uint32_t kOpaque = 0xff000000u;

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
// Source pixels beyond the capture read as white.
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

}  // namespace

bool copy_strip(const Plane<const uint32_t>& source, const Plane<uint32_t>& target, Cut cut,
                Band band, int16_t index) {
  const int64_t w = int64_t{band.last} - band.first;
  if (w < 0) return false;  // bounds out of order: the band has no line
  const int64_t edge = cut == Cut::vertical ? source.width : source.height;
  // The window's rule: w + 1 lines, w apart, so each strip's last line is overwritten by
  // the next strip's first.
  // A lambda, not the function's address: each row's run is then copied inline.
  const auto move = [](const uint32_t* from, const Run& run, uint32_t* to) {
    copy_run(from, run, to);
  };
  return copy_lines(source, target, cut, band.first, w + 1, w, index, edge, move);
}

}  // namespace strips
