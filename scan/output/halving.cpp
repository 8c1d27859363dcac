// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/output/halving.h"

#include <algorithm>
#include <cstring>

namespace scan {

ImageSize halved(const ImageSize& size) {
  return {(size.width + 1) / 2, (size.height + 1) / 2, size.pixel_bytes};
}

std::vector<ImageSize> pyramid_levels(const ImageSize& size, int64_t side) {
  std::vector<ImageSize> levels{size};
  while (levels.back().width > side || levels.back().height > side)
    levels.push_back(halved(levels.back()));
  return levels;
}

Halver::Halver(strips::Cut cut, int64_t across, int pixel_bytes, Emit emit)
    : cut_(cut),
      across_(across),
      pixel_bytes_(pixel_bytes),
      emit_(std::move(emit)),
      first_(static_cast<size_t>(across * pixel_bytes)),
      out_(static_cast<size_t>((across + 1) / 2 * pixel_bytes)) {}

namespace {

// One sample: a byte, or a big-endian 16-bit value.
inline uint32_t sample(const uint8_t* p, bool deep) {
  return deep ? (uint32_t{p[0]} << 8) | p[1] : p[0];
}

inline void put(uint8_t* p, uint32_t value, bool deep) {
  if (deep) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
  } else {
    p[0] = static_cast<uint8_t>(value);
  }
}

}  // namespace

base::Status Halver::add(const strips::ConstBytePlane& lines) {
  const bool vertical = cut_ == strips::Cut::vertical;
  const int64_t pb = pixel_bytes_;
  const int64_t count = vertical ? lines.width / pb : lines.height;
  // Along a line, pixels lie a row apart in a column, a pixel apart in a row.
  const int64_t step = vertical ? lines.stride : pb;
  const int64_t line_step = vertical ? pb : lines.stride;
  int64_t i = 0;
  // A line held from the strip before pairs with this strip's first.
  if (holding_ && count > 0) {
    holding_ = false;
    if (base::Status ok = reduce(lines.pixels, step); !ok) return ok;
    i = 1;
  }
  // Pairs within the strip are reduced together, in the order the pixels lie in memory.
  if (const int64_t pairs = (count - i) / 2; pairs > 0) {
    if (base::Status ok = reduce_pairs(lines.pixels + i * line_step, line_step, step, pairs); !ok)
      return ok;
    i += 2 * pairs;
  }
  if (i < count) {
    const uint8_t* line = lines.pixels + i * line_step;
    for (int64_t j = 0; j < across_; ++j)
      std::memcpy(first_.data() + j * pb, line + j * step, static_cast<size_t>(pb));
    holding_ = true;
  }
  return {};
}

namespace {

// One reduced row from two rows of pixels lying side by side in memory, `pixels` long: each
// the mean of a 2 x 2 block, rounded half up. A missing partner (the last pixel of an odd
// row, or `r1` the same row as `r0`) counts twice, which leaves the mean of the pixels
// there exactly: (2x + 2y + 2) / 4 is (x + y + 1) / 2 and (4x + 2) / 4 is x. So every
// block is a sum of four, and the loop over the full blocks has no branch.
template <bool Deep>
void reduce_rows(const uint8_t* r0, const uint8_t* r1, int64_t pixels, uint8_t* out) {
  constexpr int64_t sample_bytes = Deep ? 2 : 1;
  constexpr int64_t pb = 3 * sample_bytes;
  auto at = [](const uint8_t* q) -> uint32_t {
    if constexpr (Deep)
      return (uint32_t{q[0]} << 8) | q[1];
    else
      return q[0];
  };
  auto put_mean = [](uint8_t* o, uint32_t sum) {
    const uint32_t mean = (sum + 2) >> 2;
    if constexpr (Deep) {
      o[0] = static_cast<uint8_t>(mean >> 8);
      o[1] = static_cast<uint8_t>(mean);
    } else {
      o[0] = static_cast<uint8_t>(mean);
    }
  };
  const int64_t full = pixels / 2;
  for (int64_t k = 0; k < full; ++k) {
    const uint8_t* a0 = r0 + 2 * k * pb;
    const uint8_t* a1 = r1 + 2 * k * pb;
    uint8_t* o = out + k * pb;
    for (int64_t c = 0; c < pb; c += sample_bytes)
      put_mean(o + c, at(a0 + c) + at(a0 + pb + c) + at(a1 + c) + at(a1 + pb + c));
  }
  if (pixels % 2 != 0) {
    const uint8_t* a0 = r0 + 2 * full * pb;
    const uint8_t* a1 = r1 + 2 * full * pb;
    for (int64_t c = 0; c < pb; c += sample_bytes)
      put_mean(out + full * pb + c, 2 * (at(a0 + c) + at(a1 + c)));
  }
}

// The `pairs` pairs of lines from `in`, `line_step` apart, pixels `step` apart along a
// line, into `out` a reduced row at a time. Rows of memory go in and out whole: lines
// themselves of a horizontal cut; of a vertical one, rows that cross every pair, their
// partner row the next one (or, at an odd end, the row itself).
template <bool Deep>
void reduce_block(const uint8_t* in, int64_t line_step, int64_t step, int64_t pairs,
                  int64_t across, uint8_t* out, bool vertical) {
  constexpr int64_t pb = Deep ? 6 : 3;
  const int64_t out_across = (across + 1) / 2;
  if (!vertical) {
    for (int64_t p = 0; p < pairs; ++p) {
      const uint8_t* l0 = in + 2 * p * line_step;
      reduce_rows<Deep>(l0, l0 + line_step, across, out + p * out_across * pb);
    }
  } else {
    for (int64_t j = 0; j < out_across; ++j)
      reduce_rows<Deep>(in + 2 * j * step, in + std::min(2 * j + 1, across - 1) * step,
                        2 * pairs, out + j * pairs * pb);
  }
}

}  // namespace

base::Status Halver::reduce_pairs(const uint8_t* first, int64_t line_step, int64_t step,
                                  int64_t pairs) {
  const int64_t pb = pixel_bytes_;
  const int64_t out_across = (across_ + 1) / 2;
  block_.resize(static_cast<size_t>(pairs * out_across * pb));
  const bool vertical = cut_ == strips::Cut::vertical;
  // The reduced lines as a strip: `pairs` columns of out_across rows, or rows of out_across.
  if (pb == 6)
    reduce_block<true>(first, line_step, step, pairs, across_, block_.data(), vertical);
  else
    reduce_block<false>(first, line_step, step, pairs, across_, block_.data(), vertical);
  const strips::ConstBytePlane strip =
      vertical ? strips::ConstBytePlane{block_.data(), pairs * pb, out_across, pairs * pb}
               : strips::ConstBytePlane{block_.data(), out_across * pb, pairs, out_across * pb};
  return emit_(strip);
}

base::Status Halver::finish() {
  if (!holding_) return {};
  holding_ = false;
  return reduce(nullptr, 0);
}

// The pair (first_, second) or first_ alone (second null) into one reduced line.
base::Status Halver::reduce(const uint8_t* second, int64_t step) {
  const bool deep = pixel_bytes_ == 6;
  const int size = deep ? 2 : 1;
  const int64_t pb = pixel_bytes_;
  const int64_t out_across = (across_ + 1) / 2;
  for (int64_t j = 0; j < out_across; ++j) {
    const int64_t a = 2 * j, b = std::min(2 * j + 1, across_ - 1);
    const uint32_t n = (b > a ? 2 : 1) * (second != nullptr ? 2 : 1);
    for (int64_t c = 0; c < pb; c += size) {
      uint32_t sum = sample(first_.data() + a * pb + c, deep);
      if (b > a) sum += sample(first_.data() + b * pb + c, deep);
      if (second != nullptr) {
        sum += sample(second + a * step + c, deep);
        if (b > a) sum += sample(second + b * step + c, deep);
      }
      put(out_.data() + j * pb + c, (sum + n / 2) / n, deep);
    }
  }
  const bool vertical = cut_ == strips::Cut::vertical;
  const int64_t bytes = out_across * pb;
  const strips::ConstBytePlane line =
      vertical ? strips::ConstBytePlane{out_.data(), pb, out_across, pb}
               : strips::ConstBytePlane{out_.data(), bytes, 1, bytes};
  return emit_(line);
}

LevelChain::LevelChain(strips::Cut cut, const std::vector<ImageSize>& levels, Take take)
    : take_(std::move(take)) {
  const bool vertical = cut == strips::Cut::vertical;
  for (size_t i = 0; i + 1 < levels.size(); ++i)
    halvers_.push_back(std::make_unique<Halver>(
        cut, vertical ? levels[i].height : levels[i].width, levels[i].pixel_bytes,
        [this, i](const strips::ConstBytePlane& line) -> base::Status {
          if (base::Status ok = take_(i + 1, line); !ok) return ok;
          if (i + 1 < halvers_.size()) return halvers_[i + 1]->add(line);
          return {};
        }));
}

base::Status LevelChain::add(const strips::ConstBytePlane& strip) {
  if (halvers_.empty()) return {};
  return halvers_.front()->add(strip);
}

base::Status LevelChain::finish() {
  for (auto& halver : halvers_)
    if (base::Status ok = halver->finish(); !ok) return ok;
  return {};
}

}  // namespace scan
