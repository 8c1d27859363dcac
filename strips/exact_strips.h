// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan's strips: exactly `width` lines wide and `width` apart, at the source's
// own depth (packed RGB of any bytes per pixel), on the shared strip-copy core.
#pragma once
#include <cstdint>

#include "strips/strip_lines.h"

namespace strips {

// Packed pixels seen as bytes: `width` and `stride` count bytes.
using BytePlane = Plane<uint8_t>;
using ConstBytePlane = Plane<const uint8_t>;

struct ExactStrip {
  Cut cut = Cut::vertical;
  int pixel_bytes = 3;  // 3 for 8-bit RGB, 6 for 16-bit RGB
  int64_t first = 0;    // first column (row) of the slit in `source`, in pixels
  int64_t width = 1;    // lines in the slit
};

// Copies the slit of `source` into `image` as strip `index`: columns index * width ..
// (vertical) or rows (horizontal). Pixels the source does not hold read as black; nothing
// is written outside the image. True when the strip reached the image's far edge.
bool place_strip(const ConstBytePlane& source, const BytePlane& image, const ExactStrip& strip,
                 int64_t index);

}  // namespace strips
