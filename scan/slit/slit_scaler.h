// SPDX-License-Identifier: GPL-3.0-or-later
// Converts the part of a decoded picture around a slit to packed RGB at full resolution:
// 8-bit RGB, or 16-bit RGB (big-endian, as PNG stores it) for sources of more than 8 bits
// per component. Converting the whole picture for every strip costs too much, so only a
// crop around the slit is converted: aligned to the chroma subsampling and with a margin
// wider than libswscale's filters reach, so the slit's pixels equal those of a
// conversion of the whole picture with the same flags, byte for byte. A side whose length
// is not a whole number of chroma samples is not cut at all. A grey stack's pictures are
// not converted: their samples are copied as they are (strips/pixel_kind.h).
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"
#include "decode/rgb_scaler.h"
#include "strips/exact_strips.h"

namespace scan {

// A rectangle of a picture, in pixels.
struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;

  // The smallest rectangle that holds this one and `other`.
  Rect united(const Rect& other) const {
    const int left = std::min(x, other.x), top = std::min(y, other.y);
    const int right = std::max(x + width, other.x + other.width);
    const int bottom = std::max(y + height, other.y + other.height);
    return Rect{left, top, right - left, bottom - top};
  }
};

// More than 8 bits per component in `format`, by its pixel-format descriptor.
bool deep_pixel_format(int format);

// Rows of packed RGB pixels owned by a SlitScaler, valid until its next call.
struct RgbView {
  const uint8_t* bytes = nullptr;  // the first pixel of the area asked for
  int width = 0;                   // pixels
  int height = 0;
  ptrdiff_t stride = 0;  // bytes from one row to the next
  int pixel_bytes = 3;   // 3 or 6; 1, 2 or 4 for grey

  // The same rows as bytes, as the strips are copied from.
  strips::ConstBytePlane plane() const {
    return {bytes, int64_t{width} * pixel_bytes, height, stride};
  }
};

// The pixels asked for, or why libswscale could not make them.
using Converted = base::Result<RgbView, base::Error>;

class SlitScaler {
 public:
  // Pixels stay full size; libswscale's flags for the conversion.
  static constexpr int flags = SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_BITEXACT;

  // Pixels of `pixel_bytes` (strips/pixel_kind.h): RGB pictures are converted, grey ones
  // (GRAY8, GRAY16, GRAYF32 for 1, 2, 4) copied.
  explicit SlitScaler(int pixel_bytes) : deep_(pixel_bytes == 6), pixel_bytes_(pixel_bytes) {}
  SlitScaler(bool) = delete;  // a depth is no pixel size

  // The pixels of `area` of `frame` (a rectangle inside it) in RGB.
  Converted convert(const AVFrame* frame, Rect area);
  // The same of `frame` shown at width x height (`area` inside that): the whole picture is
  // converted to that size with the same flags, as a player shows a stream whose picture
  // size changes in one window. A crop scaled would not meet the whole scaled picture's
  // filters, so nothing is cut first.
  Converted convert_scaled(const AVFrame* frame, int width, int height, Rect area);

 private:
  AVFrame* output_for(int width, int height);
  // `area` of the converted picture, whose pixel (0, 0) is pixel (left, top) of the source.
  RgbView view_of(const AVFrame* out, Rect area, int left, int top) const;

  // `area` of a grey `frame`, its samples copied (16-bit ones made big-endian).
  Converted copy_grey(const AVFrame* frame, Rect area);

  bool deep_;
  int pixel_bytes_;
  std::vector<uint8_t> grey_;
  decode::FramePtr crop_ = decode::new_frame();
  decode::FramePtr output_;
  decode::RgbScaler scaler_;
};

}  // namespace scan
