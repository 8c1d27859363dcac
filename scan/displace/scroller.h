// SPDX-License-Identifier: GPL-3.0-or-later
// The scrolling finish line: each output frame is the streak image of the last frames'
// slit, the newest strip at the right edge, in the input's own pixel format. Only the
// strips are kept, as many as the picture is wide.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "base/result.h"

namespace displace {

class Scroller {
 public:
  // A slit of `columns` columns from column `first` of frames `width` x `height`.
  [[nodiscard]] static base::Result<Scroller, base::Error> make(AVPixelFormat format, int width,
                                                                int height, int first, int columns);
  // Column x of output frame t shows the slit of frame t - (width - 1 - x) / columns (its
  // column columns - 1 - (width - 1 - x) % columns); a frame before the first, the first.
  // A chroma sample goes with its left luma sample.
  void push(const AVFrame& in, AVFrame& out);

 private:
  struct Plane {
    int shift_x = 0, shift_y = 0, step = 1, rows = 0;
  };
  int width_ = 0, first_ = 0, columns_ = 1;
  int64_t depth_ = 1, t_ = 0;
  std::vector<Plane> planes_;
  // Per frame in the ring, per plane, per slit column: that column's samples top to bottom
  // (a chroma plane's column under the luma column).
  std::vector<std::vector<uint8_t>> strips_;  // per plane: depth x columns x rows x step
};

}  // namespace displace
