// SPDX-License-Identifier: GPL-3.0-or-later
// The reduced levels of a zoomable image, made as the lines of the level above come in:
// each pixel the mean of the 2 x 2 pixels below it (fewer at an odd edge), rounded half
// up. Only one line of the level above is held, so a level costs one line, not its length.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/result.h"
#include "scan/output/strip_image.h"
#include "strips/exact_strips.h"

namespace scan {

// The level below `size`: each side halved, rounded up.
ImageSize halved(const ImageSize& size);

// `size` and the levels below it, down to the first whose sides are both at most `side`
// (at least `size` itself).
std::vector<ImageSize> pyramid_levels(const ImageSize& size, int64_t side);

// Lines of one level in, lines of the level below out. A line is a column of a vertical
// cut or a row of a horizontal one; 16-bit samples are big-endian, as in the strips.
class Halver {
 public:
  // Gets the reduced lines as they are made, a strip of one or more lines, each half
  // `across` (rounded up) long.
  using Emit = std::function<base::Status(const strips::ConstBytePlane&)>;

  // `across`: a line's length in pixels.
  Halver(strips::Cut cut, int64_t across, int pixel_bytes, Emit emit);

  // Takes every line of `lines` (a strip of the level above).
  base::Status add(const strips::ConstBytePlane& lines);
  // A last line without a partner is reduced alone.
  base::Status finish();

 private:
  base::Status reduce(const uint8_t* second, int64_t step);
  base::Status reduce_pairs(const uint8_t* first, int64_t line_step, int64_t step, int64_t pairs);

  strips::Cut cut_;
  int64_t across_;
  int pixel_bytes_;
  Emit emit_;
  std::vector<uint8_t> first_;  // the first line of a pair, packed
  bool holding_ = false;
  std::vector<uint8_t> out_;
  std::vector<uint8_t> block_;  // the lines reduce_pairs makes
};

// The levels below a full image, made from its strips: `take(l, line)` gets each line of
// level l (1 the first reduced one, as `levels` lists them) as it is made.
class LevelChain {
 public:
  using Take = std::function<base::Status(size_t level, const strips::ConstBytePlane& line)>;
  LevelChain(strips::Cut cut, const std::vector<ImageSize>& levels, Take take);
  // The lines of the full image.
  base::Status add(const strips::ConstBytePlane& strip);
  // Every level's last odd line, from the top down: each level has all its lines then.
  base::Status finish();

 private:
  std::vector<std::unique_ptr<Halver>> halvers_;  // halvers_[i] makes level i + 1
  Take take_;
};

}  // namespace scan
