// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/slit/oriented_strip.h"

#include <cstring>

namespace scan {
namespace {

// One displayed row of the strip after another, each pixel fetched from wherever the turn
// put it; a fixed pixel size lets the compiler copy each pixel inline.
template <int PixelBytes>
void walk_copy(const uint8_t* first, ptrdiff_t column_step, ptrdiff_t row_step, int width,
               int height, uint8_t* target, ptrdiff_t target_stride) {
  for (int v = 0; v < height; ++v) {
    const uint8_t* source = first + v * row_step;
    uint8_t* out = target + v * target_stride;
    for (int u = 0; u < width; ++u, source += column_step, out += PixelBytes)
      std::memcpy(out, source, PixelBytes);
  }
}

}  // namespace

// Stored (x, y) is shown at (H - 1 - y, x) after a clockwise quarter turn, at
// (W - 1 - x, H - 1 - y) after a half turn and at (y, W - 1 - x) after three quarters; the
// mirror then sends displayed column X to W' - 1 - X. These are the inverses.
StoredWalk stored_walk(decode::Orientation o, int width, int height) {
  StoredWalk w;
  switch (o.rotation) {
    case 90:
      w = {0, height - 1, 0, -1, 1, 0};
      break;
    case 180:
      w = {width - 1, height - 1, -1, 0, 0, -1};
      break;
    case 270:
      w = {width - 1, 0, 0, 1, -1, 0};
      break;
    default:
      break;
  }
  if (o.mirror) {
    const int last_column = (o.swaps_sides() ? height : width) - 1;
    w.x0 += last_column * w.column_dx;
    w.y0 += last_column * w.column_dy;
    w.column_dx = -w.column_dx;
    w.column_dy = -w.column_dy;
  }
  return w;
}

Rect stored_area(const StoredWalk& w, Rect shown) {
  const int last_x = shown.x + shown.width - 1, last_y = shown.y + shown.height - 1;
  const int x1 = w.x0 + shown.x * w.column_dx + shown.y * w.row_dx;
  const int y1 = w.y0 + shown.x * w.column_dy + shown.y * w.row_dy;
  const int x2 = w.x0 + last_x * w.column_dx + last_y * w.row_dx;
  const int y2 = w.y0 + last_x * w.column_dy + last_y * w.row_dy;
  return {std::min(x1, x2), std::min(y1, y2), std::abs(x2 - x1) + 1, std::abs(y2 - y1) + 1};
}

OrientedSlit::OrientedSlit(decode::Orientation orientation, int width, int height, Rect shown)
    : shown_(shown), walk_(stored_walk(orientation, width, height)) {
  stored_ = stored_area(walk_, shown);
}

void OrientedSlit::place(const RgbView& view, const strips::BytePlane& image,
                         strips::Cut cut, int64_t index) const {
  const int pb = view.pixel_bytes;
  if (view.width != stored_.width || view.height != stored_.height || (pb != 3 && pb != 6)) return;
  const int64_t across = cut == strips::Cut::vertical ? index * shown_.width : 0;
  const int64_t down = cut == strips::Cut::vertical ? 0 : index * shown_.height;
  // Nothing is written outside the image, as with upright strips.
  if (across + shown_.width > image.width / pb || down + shown_.height > image.height) return;
  // The stored pixel shown at the slit's first pixel, as a place in the converted area.
  const int x = walk_.x0 + shown_.x * walk_.column_dx + shown_.y * walk_.row_dx - stored_.x;
  const int y = walk_.y0 + shown_.x * walk_.column_dy + shown_.y * walk_.row_dy - stored_.y;
  const uint8_t* first = view.bytes + y * view.stride + ptrdiff_t{x} * pb;
  const ptrdiff_t column_step = walk_.column_dx * pb + walk_.column_dy * view.stride;
  const ptrdiff_t row_step = walk_.row_dx * pb + walk_.row_dy * view.stride;
  uint8_t* target = image.pixels + down * image.stride + across * pb;
  if (pb == 3)
    walk_copy<3>(first, column_step, row_step, shown_.width, shown_.height, target, image.stride);
  else
    walk_copy<6>(first, column_step, row_step, shown_.width, shown_.height, target, image.stride);
}

}  // namespace scan
