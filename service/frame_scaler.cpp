// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/frame_scaler.h"

#include <cstddef>
#include <cstring>

namespace service {

bool FrameScaler::scale(const AVFrame* frame, uint32_t* pixels, int width, int height,
                        int stride) {
  if (frame == nullptr || frame->width <= 0 || frame->height <= 0 || width <= 0 || height <= 0)
    return false;
  SwsContext* sws = scaler_.scaler_for(frame, width, height, AV_PIX_FMT_RGB32, SWS_BILINEAR);
  if (sws == nullptr) return false;
  AVFrame* out = decode::keep_padded_picture(padded_, AV_PIX_FMT_RGB32, width, height);
  if (out == nullptr) return false;
  if (sws_scale(sws, frame->data, frame->linesize, 0, frame->height, out->data, out->linesize) <= 0)
    return false;
  const size_t row_bytes = static_cast<size_t>(width) * 4;
  for (int y = 0; y < height; ++y)
    std::memcpy(pixels + static_cast<size_t>(y) * stride,
                out->data[0] + static_cast<ptrdiff_t>(y) * out->linesize[0], row_bytes);
  return true;
}

}  // namespace service
