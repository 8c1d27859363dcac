// SPDX-License-Identifier: GPL-3.0-or-later
// Strips of a clip whose pictures are turned or mirrored for showing. The slit is placed on
// the displayed picture; only the stored area behind it is converted (so the pixels stay
// those of a whole-picture conversion), and its pixels are laid into the image turned.
// Upright clips never come here: their strips are plain copies.
#pragma once
#include <cstdint>

#include "strips/exact_strips.h"
#include "decode/display_orientation.h"
#include "scan/slit/slit_scaler.h"

namespace scan {

// Where the pixels of the displayed picture lie in the stored one: pixel (X, Y) shown is
// stored pixel (x0 + X * column_dx + Y * row_dx, y0 + X * column_dy + Y * row_dy).
struct StoredWalk {
  int x0 = 0, y0 = 0;
  int column_dx = 1, column_dy = 0;  // one displayed column to the right
  int row_dx = 0, row_dy = 1;        // one displayed row down
};

// For pictures stored as `width` x `height`.
StoredWalk stored_walk(decode::Orientation orientation, int width, int height);
// The stored area that holds the displayed pixels of `shown` (a rectangle inside the
// displayed picture).
Rect stored_area(const StoredWalk& walk, Rect shown);

class OrientedSlit {
 public:
  // `shown`: the slit on the displayed picture of pictures stored as width x height.
  OrientedSlit(decode::Orientation orientation, int width, int height, Rect shown);

  // What to convert of each stored picture.
  Rect stored() const { return stored_; }

  // Lays `view` (the conversion of stored()) into `image` as strip `index` of `cut`, the
  // slit's lines `shown.width` (vertical) or `shown.height` (horizontal) apart.
  void place(const RgbView& view, const strips::BytePlane& image, strips::Cut cut,
             int64_t index) const;

 private:
  Rect shown_, stored_;
  StoredWalk walk_;
};

}  // namespace scan
