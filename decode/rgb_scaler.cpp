// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/rgb_scaler.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace decode {
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

}  // namespace

ScalerPtr make_rgb_scaler(const AVFrame* frame, int width, int height, AVPixelFormat target,
                          int flags) {
  bool full_range = false;
  AVPixelFormat format = plain_format(static_cast<AVPixelFormat>(frame->format), full_range);
  if (frame->color_range == AVCOL_RANGE_JPEG) full_range = true;
  ScalerPtr sws(sws_getContext(frame->width, frame->height, format, width, height, target, flags,
                               nullptr, nullptr, nullptr));
  if (!sws) return sws;
  int* inv_table = nullptr;
  int* table = nullptr;
  int src_range = 0, dst_range = 0, brightness = 0, contrast = 0, saturation = 0;
  if (sws_getColorspaceDetails(sws.get(), &inv_table, &src_range, &table, &dst_range, &brightness,
                               &contrast, &saturation) < 0)
    return sws;  // a conversion whose tables cannot be set
  // libswscale assumes BT.601 whatever the picture says; FFmpeg's own conversion takes the
  // matrix the frame is tagged with (BT.601 for an untagged one), and so does this. RGB
  // sources keep both tables as they are: libswscale takes them through YUV and back
  // when it resizes them, with the two tables.
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  const bool yuv = desc != nullptr && !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
  const int* coefficients = yuv ? sws_getCoefficients(frame->colorspace) : inv_table;
  sws_setColorspaceDetails(sws.get(), coefficients, full_range ? 1 : src_range, table, dst_range,
                           brightness, contrast, saturation);
  return sws;
}

SwsContext* RgbScaler::scaler_for(const AVFrame* frame, int width, int height,
                                  AVPixelFormat target, int flags) {
  const Key key{frame->width, frame->height, frame->format, frame->color_range,
                frame->colorspace, width, height, target, flags};
  if (scaler_ && key == key_) return scaler_.get();
  scaler_ = make_rgb_scaler(frame, width, height, target, flags);
  key_ = key;
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

}  // namespace decode
