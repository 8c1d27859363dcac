// SPDX-License-Identifier: GPL-3.0-or-later
// Samples of a picture at any places, bilinear between the four pixel centres around each.
// The diagonal of a frame has the whole frame as its bounding box, so only square tiles
// along the places are converted, each by SlitScaler's crop rule: the pixels used equal a
// whole-frame conversion's, byte for byte.
//
// Rounding: a place is rounded to the nearest 1/1024 of a pixel (halves away from zero),
// the weights are then whole multiples of 1/1024 and the sum exact, rounded half up. A
// place within 1/2048 of a pixel centre is that pixel exactly.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "scan/slit_path.h"
#include "scan/slit_scaler.h"

namespace scan {

class LineSampler {
 public:
  explicit LineSampler(bool deep) : deep_(deep), whole_(deep) {}

  // The values of `frame`, shown at width x height (scaled whole when it has another
  // size), at `places` (inside 0 .. width - 1, 0 .. height - 1; those outside are taken at
  // the nearest edge), one pixel after another into `out`. False when libswscale cannot
  // convert this picture.
  bool sample(const AVFrame* frame, int width, int height, const std::vector<Point>& places,
              uint8_t* out);

  // The side of the tiles converted, in pixels; a tile holds one pixel more each way, so
  // every sample's four pixels lie in the tile of its top left one.
  static constexpr int tile = 64;

 private:
  // Tiles of one size and distance from the edges are cut the same way and share a
  // scaler: libswscale makes a scaler again for each new size.
  using TileKind = std::array<int, 6>;
  bool deep_;
  SlitScaler whole_;
  std::map<TileKind, std::unique_ptr<SlitScaler>> scalers_;
  std::vector<int64_t> order_;  // places sorted by tile, kept from call to call
};

}  // namespace scan
