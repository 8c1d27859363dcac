#include "scan/oriented_strip.h"

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

OrientedSlit::OrientedSlit(host::Orientation orientation, int width, int height, host::Rect shown)
    : shown_(shown), walk_(host::stored_walk(orientation, width, height)) {
  stored_ = host::stored_area(walk_, shown);
}

void OrientedSlit::place(const host::RgbView& view, const composite::BytePlane& image,
                         composite::Cut cut, int64_t index) const {
  const int pb = view.pixel_bytes;
  if (view.width != stored_.width || view.height != stored_.height || (pb != 3 && pb != 6)) return;
  const int64_t across = cut == composite::Cut::vertical ? index * shown_.width : 0;
  const int64_t down = cut == composite::Cut::vertical ? 0 : index * shown_.height;
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
