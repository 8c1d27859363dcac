#include "host/frame_scaler.h"

namespace host {

SwsContext* FrameScaler::scaler_for(const AVFrame* frame, int width, int height) {
  if (scaler_ && frame->width == src_w_ && frame->height == src_h_ &&
      frame->format == src_format_ && width == dst_w_ && height == dst_h_)
    return scaler_.get();
  scaler_.reset(sws_getContext(frame->width, frame->height,
                               static_cast<AVPixelFormat>(frame->format), width, height,
                               AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr));
  src_w_ = frame->width;
  src_h_ = frame->height;
  src_format_ = frame->format;
  dst_w_ = width;
  dst_h_ = height;
  return scaler_.get();
}

bool FrameScaler::scale(const AVFrame* frame, uint32_t* pixels, int width, int height,
                        int stride) {
  if (frame == nullptr || frame->width <= 0 || frame->height <= 0 || width <= 0 || height <= 0)
    return false;
  SwsContext* sws = scaler_for(frame, width, height);
  if (sws == nullptr) return false;
  uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(pixels), nullptr, nullptr, nullptr};
  int dst_stride[4] = {stride * 4, 0, 0, 0};
  return sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dst_stride) > 0;
}

}  // namespace host
