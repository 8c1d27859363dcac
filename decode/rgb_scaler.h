// SPDX-License-Identifier: GPL-3.0-or-later
// Conversion of decoded pictures to packed RGB with libswscale: one scaler, made again only
// when anything it reads changes, and FFmpeg's own padded pictures to convert into.
#pragma once
#include "decode/ffmpeg_handles.h"

namespace decode {

// A scaler from `frame`'s size and pixel format to width x height of `target` with libswscale
// `flags`; JPEG-style and full-range sources keep their levels, and YUV sources are read
// with the colour matrix they are tagged with. Null when libswscale cannot convert.
[[nodiscard]] ScalerPtr make_rgb_scaler(const AVFrame* frame, int width, int height,
                                        AVPixelFormat target, int flags);

// Keeps the scaler of the last conversion. Everything make_rgb_scaler reads of the source
// is in the key: a stream may change its picture size, format, colour range or matrix
// from one picture to the next.
class RgbScaler {
 public:
  // The scaler for `frame` to width x height of `target`, owned here; null when libswscale
  // cannot convert this picture.
  SwsContext* scaler_for(const AVFrame* frame, int width, int height, AVPixelFormat target,
                         int flags);

 private:
  struct Key {
    int src_width = 0, src_height = 0, src_format = -1, range = -1, matrix = -1;
    int width = 0, height = 0, target = -1, flags = 0;
    bool operator==(const Key&) const = default;
  };
  ScalerPtr scaler_;
  Key key_;
};

// `kept` when it is a picture of `format` and this size, else a new one of FFmpeg's own
// padded buffers put in its place (libswscale writes whole SIMD blocks past narrow rows);
// null when there is no memory.
AVFrame* keep_padded_picture(FramePtr& kept, AVPixelFormat format, int width, int height);

}  // namespace decode
