// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/slit/slit_scaler.h"

#include <algorithm>
#include <cstring>

#include "strips/pixel_kind.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace scan {
namespace {

// Luma pixels added on each side of the slit: libswscale's bilinear chroma filters reach
// one chroma sample (two pixels) past a pixel; eight leave room to spare.
constexpr int margin = 8;
// Chroma samples added on each side at least: libswscale lengthens its filters to four
// taps for its SIMD code (x86, ARM) and reshapes them in a crop of fewer samples than
// that, as 4:1:1's eight pixels of margin are.
constexpr int chroma_margin = 4;

// [first, first + size) widened by the margins, its start rounded down and its end up to
// multiples of 1 << shift (the chroma subsampling), kept inside 0 .. limit. When `limit`
// is no such multiple, the crop is all of 0 .. limit: libswscale steps through the chroma
// at ceil(limit / step) samples over `limit` pixels, not exactly 1 / step a pixel, so no
// crop of another size meets the chroma samples at the same places.
void widen(int first, int size, int shift, int limit, int& start, int& end) {
  const int step = 1 << shift;
  if (limit % step != 0) {
    start = 0;
    end = limit;
    return;
  }
  const int reach = std::max(margin, chroma_margin * step);
  start = std::max(0, (first - reach) / step * step);
  end = std::min(limit, (first + size + reach + step - 1) / step * step);
}

// Asks the memory for every cache line of the crop before libswscale reads it. The crop's
// rows lie a picture's width apart, each on a page of its own, where the hardware does not
// fetch ahead; libswscale would wait for each row in turn (the most time velmora-scan adds
// to decoding a clip), these requests are served side by side. Wide crops are read along
// their rows, which the hardware does fetch ahead.
void prefetch_crop(const AVFrame* crop, const AVPixFmtDescriptor* desc) {
  if (crop->width > 256) return;
  const auto format = static_cast<AVPixelFormat>(crop->format);
  for (int plane = 0; plane < 4 && crop->data[plane] != nullptr; ++plane) {
    const int bytes = av_image_get_linesize(format, crop->width, plane);
    const bool chroma = plane == 1 || plane == 2;
    const int rows = chroma ? AV_CEIL_RSHIFT(crop->height, desc->log2_chroma_h) : crop->height;
    for (int r = 0; r < rows; ++r) {
      const uint8_t* row = crop->data[plane] + static_cast<ptrdiff_t>(r) * crop->linesize[plane];
      for (int at = 0; at < bytes; at += 64) __builtin_prefetch(row + at);
      if (bytes > 0) __builtin_prefetch(row + bytes - 1);
    }
  }
}

}  // namespace

bool deep_pixel_format(int format) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
  if (desc == nullptr) return false;
  for (int i = 0; i < desc->nb_components; ++i)
    if (desc->comp[i].depth > 8) return true;
  return false;
}

AVFrame* SlitScaler::output_for(int width, int height) {
  const AVPixelFormat target = deep_ ? AV_PIX_FMT_RGB48BE : AV_PIX_FMT_RGB24;
  return decode::keep_padded_picture(output_, target, width, height);
}

namespace {

Converted outside() { return base::failed("the area lies outside the picture"); }
Converted refused() { return base::failed("libswscale cannot convert the picture"); }

}  // namespace

Converted SlitScaler::copy_grey(const AVFrame* frame, Rect area) {
  const AVPixelFormat wanted = pixel_bytes_ == 1   ? AV_PIX_FMT_GRAY8
                               : pixel_bytes_ == 2 ? AV_PIX_FMT_GRAY16
                                                   : AV_PIX_FMT_GRAYF32;
  if (frame->format != wanted)
    return base::failed("the picture is not grey of the stack's depth");
  const size_t row = static_cast<size_t>(area.width) * pixel_bytes_;
  grey_.resize(row * static_cast<size_t>(area.height));
  for (int y = 0; y < area.height; ++y) {
    const uint8_t* from = frame->data[0] + static_cast<ptrdiff_t>(area.y + y) * frame->linesize[0] +
                          static_cast<ptrdiff_t>(area.x) * pixel_bytes_;
    uint8_t* to = grey_.data() + y * row;
    if (pixel_bytes_ != 2) {
      std::memcpy(to, from, row);
      continue;
    }
    for (size_t i = 0; i < row; i += 2) {
      uint16_t v;
      std::memcpy(&v, from + i, 2);
      to[i] = static_cast<uint8_t>(v >> 8);
      to[i + 1] = static_cast<uint8_t>(v);
    }
  }
  RgbView view;
  view.bytes = grey_.data();
  view.width = area.width;
  view.height = area.height;
  view.stride = static_cast<ptrdiff_t>(row);
  view.pixel_bytes = pixel_bytes_;
  return view;
}

Converted SlitScaler::convert(const AVFrame* frame, Rect area) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  if (desc == nullptr || area.width <= 0 || area.height <= 0 || area.x < 0 || area.y < 0 ||
      area.x + area.width > frame->width || area.y + area.height > frame->height)
    return outside();
  if (strips::is_grey(pixel_bytes_)) return copy_grey(frame, area);
  int left = 0, right = frame->width, top = 0, bottom = frame->height;
  // Bit-packed formats cannot be cut between bytes: they are converted whole.
  if (!(desc->flags & AV_PIX_FMT_FLAG_BITSTREAM)) {
    widen(area.x, area.width, desc->log2_chroma_w, frame->width, left, right);
    widen(area.y, area.height, desc->log2_chroma_h, frame->height, top, bottom);
  }
  // A new reference to the same buffers, cut down by FFmpeg's own cropping.
  av_frame_unref(crop_.get());
  if (av_frame_ref(crop_.get(), frame) < 0) return refused();
  crop_->crop_left = static_cast<size_t>(left);
  crop_->crop_right = static_cast<size_t>(frame->width - right);
  crop_->crop_top = static_cast<size_t>(top);
  crop_->crop_bottom = static_cast<size_t>(frame->height - bottom);
  if (av_frame_apply_cropping(crop_.get(), AV_FRAME_CROP_UNALIGNED) < 0) return refused();
  SwsContext* sws = scaler_.scaler_for(crop_.get(), crop_->width, crop_->height,
                                       deep_ ? AV_PIX_FMT_RGB48BE : AV_PIX_FMT_RGB24, flags);
  AVFrame* out = output_for(crop_->width, crop_->height);
  if (sws == nullptr || out == nullptr) return refused();
  prefetch_crop(crop_.get(), desc);
  if (sws_scale(sws, crop_->data, crop_->linesize, 0, crop_->height, out->data, out->linesize) <= 0)
    return refused();
  av_frame_unref(crop_.get());
  return view_of(out, area, left, top);
}

Converted SlitScaler::convert_scaled(const AVFrame* frame, int width, int height, Rect area) {
  if (area.width <= 0 || area.height <= 0 || area.x < 0 || area.y < 0 ||
      area.x + area.width > width || area.y + area.height > height)
    return outside();
  // A stack's pages are all of one size.
  if (strips::is_grey(pixel_bytes_))
    return base::failed("a grey picture of another size is not scaled");
  SwsContext* sws = scaler_.scaler_for(frame, width, height,
                                       deep_ ? AV_PIX_FMT_RGB48BE : AV_PIX_FMT_RGB24, flags);
  AVFrame* out = output_for(width, height);
  if (sws == nullptr || out == nullptr) return refused();
  if (sws_scale(sws, frame->data, frame->linesize, 0, frame->height, out->data, out->linesize) <= 0)
    return refused();
  return view_of(out, area, 0, 0);
}

RgbView SlitScaler::view_of(const AVFrame* out, Rect area, int left, int top) const {
  RgbView view;
  view.pixel_bytes = deep_ ? 6 : 3;
  view.width = area.width;
  view.height = area.height;
  view.stride = out->linesize[0];
  view.bytes = out->data[0] + static_cast<ptrdiff_t>(area.y - top) * out->linesize[0] +
               static_cast<ptrdiff_t>(area.x - left) * view.pixel_bytes;
  return view;
}

}  // namespace scan
