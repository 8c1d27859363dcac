// SPDX-License-Identifier: GPL-3.0-or-later
// Turns a picture into its strip: the straight crop of the slit, the crop of a picture
// shown turned or mirrored, or the slit's lines sampled. The strip is laid alone into a
// one-strip plane, black wherever the cut leaves it.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>

#include "scan/slit/line_strips.h"
#include "scan/slit/oriented_strip.h"
#include "scan/slit/slit_scaler.h"
#include "strips/strip_lines.h"

struct AVFrame;

namespace scan {

class Cutter {
 public:
  // Pictures stored as width x height, made pixels of `pixel_bytes`; `slit` the
  // crop of the stored picture, `oriented` how it is laid when pictures are shown turned;
  // `lines` instead of a crop when the slit is sampled along lines.
  Cutter(strips::Cut cut, int64_t strip_lines, int pixel_bytes, int width, int height, Rect slit,
         std::optional<OrientedSlit> oriented, std::unique_ptr<LineStrips> lines);

  struct Outcome {
    bool laid = false;    // false: libswscale cannot convert the picture; `strip` is as it was
    bool scaled = false;  // the picture's size differs from the first's: scaled whole first
  };
  // Strip k of `picture` into `strip`. A picture of another size than the first (clips
  // joined end to end) is scaled whole to the first picture's size and cut at the same
  // place, as a player shows it in one window.
  Outcome cut(const AVFrame* picture, int64_t k, const strips::BytePlane& strip);

 private:
  strips::Cut cut_;
  int64_t strip_lines_;
  int pixel_bytes_;
  int width_, height_;
  Rect slit_;
  std::optional<OrientedSlit> oriented_;
  std::unique_ptr<LineStrips> lines_;
  SlitScaler scaler_;
};

}  // namespace scan
