// SPDX-License-Identifier: GPL-3.0-or-later
// Samples of a picture at any places, bilinear between the four pixel centres around each.
// The diagonal of a frame has the whole frame as its bounding box, so only small boxes
// along the places are converted, each by SlitScaler's crop rule: the pixels used equal a
// whole-frame conversion's, byte for byte.
//
// Rounding: a place is rounded to the nearest 1/1024 of a pixel (halves away from zero),
// the weights are then whole multiples of 1/1024 and the sum exact, rounded half up. A
// place within 1/2048 of a pixel centre is that pixel exactly. Float samples take the same
// weights in double and are not rounded: the sum of the four, divided by 2^20, is stored
// as the nearest float.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "base/result.h"
#include "scan/slit/slit_path.h"
#include "scan/slit/slit_scaler.h"

namespace scan {

class LineSampler {
 public:
  // Pixels of `pixel_bytes` (strips/pixel_kind.h).
  explicit LineSampler(int pixel_bytes) : pixel_bytes_(pixel_bytes), whole_(pixel_bytes) {}
  LineSampler(bool) = delete;

  // The values of `frame`, shown at width x height (scaled whole when it has another
  // size), at `places` (inside 0 .. width - 1, 0 .. height - 1; those outside are taken at
  // the nearest edge), one pixel after another into `out`; or why libswscale could
  // not convert this picture.
  base::Status sample(const AVFrame* frame, int width, int height,
                      const std::vector<Point>& places, uint8_t* out);

  // Pixels a box converted around consecutive places may cover at most (one place's four
  // at least): small enough that a diagonal's boxes hold little it does not need, large
  // enough that a straight slit's few boxes cost little more than its own crop.
  static constexpr int64_t box_area = 512;

  // A place in 1/1024 pixel.
  struct Fixed {
    int64_t x = 0, y = 0;
  };

 private:
  // libswscale makes a scaler again for each new size: boxes cut alike share one.
  using BoxKind = std::array<int, 8>;
  // Places first .. end - 1 are interpolated from one box converted around them.
  struct Box {
    Rect area;
    size_t first = 0, end = 0;
    SlitScaler* scaler = nullptr;
  };
  // Rounds the places and cuts them into boxes, unless done for these very places (a
  // still line's are the same on every frame).
  void plan(int width, int height, const std::vector<Point>& places);
  // Grey pictures of the size asked for are interpolated where they lie, in the machine's
  // order, as the boxes' big-endian copies would give them.
  base::Status sample_grey(const AVFrame* frame, uint8_t* out) const;

  int pixel_bytes_;
  SlitScaler whole_;
  std::map<BoxKind, std::unique_ptr<SlitScaler>> scalers_;
  std::vector<Point> planned_;  // the places fixed_ and boxes_ were made for
  int planned_width_ = -1, planned_height_ = -1;
  std::vector<Fixed> fixed_;
  std::vector<Box> boxes_;
};

}  // namespace scan
