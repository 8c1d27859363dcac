// SPDX-License-Identifier: GPL-3.0-or-later
// Scales decoded pictures into 0xffRRGGBB pixels for the window programs. libswscale writes
// whole SIMD blocks, past the end of a row whose width is not a multiple of the block: it
// scales into a padded picture of its own, and only the pixels asked for reach the caller's
// buffer.
#pragma once
#include <cstdint>

#include "decode/rgb_scaler.h"

namespace service {

class FrameScaler {
 public:
  // Writes `frame` scaled to width x height into `pixels`, rows `stride` pixels apart.
  // False when libswscale cannot convert this picture.
  [[nodiscard]] bool scale(const AVFrame* frame, uint32_t* pixels, int width, int height,
                           int stride);

 private:
  decode::RgbScaler scaler_;
  decode::FramePtr padded_;
};

}  // namespace service
