// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/slit/cutter.h"

#include <algorithm>

extern "C" {
#include <libavutil/frame.h>
}

namespace scan {

Cutter::Cutter(strips::Cut cut, int64_t strip_lines, int pixel_bytes, int width, int height,
               Rect slit, std::optional<OrientedSlit> oriented,
               std::unique_ptr<LineStrips> lines)
    : cut_(cut),
      strip_lines_(strip_lines),
      pixel_bytes_(pixel_bytes),
      width_(width),
      height_(height),
      slit_(slit),
      oriented_(std::move(oriented)),
      lines_(std::move(lines)),
      scaler_(pixel_bytes) {}

Cutter::Outcome Cutter::cut(const AVFrame* picture, int64_t k, const strips::BytePlane& strip) {
  Outcome outcome;
  outcome.scaled = picture->width != width_ || picture->height != height_;
  const Converted converted = lines_           ? lines_->strip(picture, k)
                              : outcome.scaled ? scaler_.convert_scaled(picture, width_, height_, slit_)
                                               : scaler_.convert(picture, slit_);
  if (!converted) return outcome;
  const RgbView& view = *converted;
  for (int64_t y = 0; y < strip.height; ++y)
    std::fill_n(strip.pixels + y * strip.stride, strip.width, uint8_t{0});
  if (oriented_) {
    oriented_->place(view, strip, cut_, 0);
  } else {
    strips::place_strip(view.plane(), strip,
                        strips::ExactStrip{cut_, pixel_bytes_, 0, strip_lines_}, 0);
  }
  outcome.laid = true;
  return outcome;
}

}  // namespace scan
