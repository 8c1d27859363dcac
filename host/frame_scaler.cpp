#include "host/frame_scaler.h"

#include <cstddef>
#include <cstring>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace host {
namespace {

// JPEG-style formats are the plain ones with full-range levels; libswscale wants them said
// that way.
AVPixelFormat plain_format(AVPixelFormat format, bool& full_range) {
  full_range = true;
  switch (format) {
    case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
    default: break;
  }
  full_range = false;
  return format;
}

// A scaler to RGB32, levels and colour matrix as the source says.
SwsContext* make_scaler(const AVFrame* frame, int width, int height) {
  return make_rgb_scaler(frame, width, height, AV_PIX_FMT_RGB32, SWS_BILINEAR);
}

}  // namespace

SwsContext* make_rgb_scaler(const AVFrame* frame, int width, int height, AVPixelFormat target,
                            int flags) {
  bool full_range = false;
  AVPixelFormat format = plain_format(static_cast<AVPixelFormat>(frame->format), full_range);
  if (frame->color_range == AVCOL_RANGE_JPEG) full_range = true;
  SwsContext* sws = sws_getContext(frame->width, frame->height, format, width, height, target,
                                   flags, nullptr, nullptr, nullptr);
  if (sws == nullptr) return nullptr;
  int* inv_table = nullptr;
  int* table = nullptr;
  int src_range = 0, dst_range = 0, brightness = 0, contrast = 0, saturation = 0;
  if (sws_getColorspaceDetails(sws, &inv_table, &src_range, &table, &dst_range, &brightness,
                               &contrast, &saturation) < 0)
    return sws;  // a conversion whose tables cannot be set
  // libswscale assumes BT.601 whatever the picture says; FFmpeg's own conversion takes the
  // matrix the frame is tagged with (BT.601 for an untagged one), and so does this. RGB
  // sources keep both tables as they are: libswscale takes them through YUV and back
  // when it resizes them, with the two tables.
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  const bool yuv = desc != nullptr && !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
  const int* coefficients = yuv ? sws_getCoefficients(frame->colorspace) : inv_table;
  sws_setColorspaceDetails(sws, coefficients, full_range ? 1 : src_range, table, dst_range,
                           brightness, contrast, saturation);
  return sws;
}

SwsContext* FrameScaler::scaler_for(const AVFrame* frame, int width, int height) {
  if (scaler_ && frame->width == src_w_ && frame->height == src_h_ &&
      frame->format == src_format_ && frame->color_range == src_range_ &&
      frame->colorspace == src_matrix_ && width == dst_w_ && height == dst_h_)
    return scaler_.get();
  scaler_.reset(make_scaler(frame, width, height));
  src_w_ = frame->width;
  src_h_ = frame->height;
  src_format_ = frame->format;
  src_range_ = frame->color_range;
  src_matrix_ = frame->colorspace;
  dst_w_ = width;
  dst_h_ = height;
  return scaler_.get();
}

AVFrame* keep_padded_picture(FramePtr& kept, AVPixelFormat format, int width, int height) {
  if (kept && kept->format == format && kept->width == width && kept->height == height)
    return kept.get();
  kept.reset();
  FramePtr picture = new_frame();
  if (!picture) return nullptr;
  picture->format = format;
  picture->width = width;
  picture->height = height;
  // FFmpeg's own buffers: rows aligned for the widest SIMD this CPU has, and padded.
  if (av_frame_get_buffer(picture.get(), 0) < 0) return nullptr;
  kept = std::move(picture);
  return kept.get();
}

AVFrame* FrameScaler::padded_picture(int width, int height) {
  return keep_padded_picture(padded_, AV_PIX_FMT_RGB32, width, height);
}

bool FrameScaler::scale(const AVFrame* frame, uint32_t* pixels, int width, int height,
                        int stride) {
  if (frame == nullptr || frame->width <= 0 || frame->height <= 0 || width <= 0 || height <= 0)
    return false;
  SwsContext* sws = scaler_for(frame, width, height);
  if (sws == nullptr) return false;
  AVFrame* out = padded_picture(width, height);
  if (out == nullptr) return false;
  if (sws_scale(sws, frame->data, frame->linesize, 0, frame->height, out->data, out->linesize) <= 0)
    return false;
  const size_t row_bytes = static_cast<size_t>(width) * 4;
  for (int y = 0; y < height; ++y)
    std::memcpy(pixels + static_cast<size_t>(y) * stride, out->data[0] + static_cast<ptrdiff_t>(y) * out->linesize[0],
                row_bytes);
  return true;
}

}  // namespace host
