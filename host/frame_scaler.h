// Scales decoded pictures into 0xffRRGGBB pixels with libswscale, keeping one scaler per
// source and destination size. libswscale writes whole SIMD blocks, past the end of a row
// whose width is not a multiple of the block: it scales into a padded picture of its own,
// and only the pixels asked for reach the caller's buffer.
#pragma once
#include <cstdint>

#include "host/ffmpeg_handles.h"

namespace host {

// A scaler from `frame`'s size and pixel format to width x height in `target` with libswscale
// `flags`; JPEG-style and full-range sources keep their levels, and YUV sources are read
// with the colour matrix they are tagged with. Null when libswscale cannot convert. The
// caller owns it.
SwsContext* make_rgb_scaler(const AVFrame* frame, int width, int height, AVPixelFormat target,
                            int flags);

// `kept` when it is a picture of `format` and this size, else a new one of FFmpeg's own
// padded buffers put in its place (libswscale writes whole SIMD blocks past narrow rows);
// null when there is no memory.
AVFrame* keep_padded_picture(FramePtr& kept, AVPixelFormat format, int width, int height);

class FrameScaler {
 public:
  // Writes `frame` scaled to width x height into `pixels`, rows `stride` pixels apart.
  // False when libswscale cannot convert this picture.
  bool scale(const AVFrame* frame, uint32_t* pixels, int width, int height, int stride);

 private:
  SwsContext* scaler_for(const AVFrame* frame, int width, int height);
  AVFrame* padded_picture(int width, int height);

  ScalerPtr scaler_;
  FramePtr padded_;
  int src_w_ = 0, src_h_ = 0, src_format_ = -1, dst_w_ = 0, dst_h_ = 0;
  int src_range_ = -1, src_matrix_ = -1;
};

}  // namespace host
