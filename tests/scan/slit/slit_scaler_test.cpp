// SPDX-License-Identifier: GPL-3.0-or-later
// The slit's pixels equal those of the whole picture converted at once, byte for byte,
// whatever the crop around the slit: every place, narrow and wide slits, every chroma
// subsampling, 8 and 10 bits, odd and even picture sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "decode/rgb_scaler.h"
#include "scan/slit/slit_scaler.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

decode::FramePtr noise_picture(AVPixelFormat format, int width, int height, unsigned seed) {
  decode::FramePtr frame = decode::new_frame();
  frame->format = format;
  frame->width = width;
  frame->height = height;
  EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
  std::mt19937 random(seed);
  const bool deep = scan::deep_pixel_format(format);
  for (int plane = 0; plane < 4 && frame->data[plane] != nullptr; ++plane) {
    if (format == AV_PIX_FMT_PAL8 && plane == 1) {  // the palette: 256 colours of 4 bytes
      for (int i = 0; i < 1024; ++i) frame->data[1][i] = static_cast<uint8_t>(random());
      continue;
    }
    const int shift = plane == 1 || plane == 2 ? av_pix_fmt_desc_get(format)->log2_chroma_h : 0;
    for (int y = 0; y < AV_CEIL_RSHIFT(frame->height, shift); ++y) {
      uint8_t* row = frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane];
      if (deep) {
        auto* samples = reinterpret_cast<uint16_t*>(row);
        for (int x = 0; x < frame->linesize[plane] / 2; ++x) samples[x] = random() & 0x3ff;
      } else {
        for (int x = 0; x < frame->linesize[plane]; ++x) row[x] = static_cast<uint8_t>(random());
      }
    }
  }
  return frame;
}

// The whole picture converted at once, rows packed.
std::vector<uint8_t> whole(const AVFrame* frame, bool deep) {
  AVPixelFormat target = deep ? AV_PIX_FMT_RGB48BE : AV_PIX_FMT_RGB24;
  decode::ScalerPtr sws(
      decode::make_rgb_scaler(frame, frame->width, frame->height, target, scan::SlitScaler::flags));
  decode::FramePtr out = decode::new_frame();
  out->format = target;
  out->width = frame->width;
  out->height = frame->height;
  EXPECT_GE(av_frame_get_buffer(out.get(), 0), 0);
  sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, out->data, out->linesize);
  const size_t row = static_cast<size_t>(frame->width) * (deep ? 6 : 3);
  std::vector<uint8_t> packed(row * frame->height);
  for (int y = 0; y < frame->height; ++y)
    std::copy_n(out->data[0] + static_cast<ptrdiff_t>(y) * out->linesize[0], row, &packed[row * y]);
  return packed;
}

// Counts the slit's bytes that differ from the whole conversion.
int differences(const scan::RgbView& view, const std::vector<uint8_t>& full, int full_width,
                scan::Rect area) {
  int wrong = 0;
  const size_t row = static_cast<size_t>(full_width) * view.pixel_bytes;
  for (int y = 0; y < area.height; ++y)
    for (int b = 0; b < area.width * view.pixel_bytes; ++b)
      wrong += view.bytes[y * view.stride + b] !=
               full[row * (area.y + y) + static_cast<size_t>(area.x) * view.pixel_bytes + b];
  return wrong;
}

// Where the slit's pixels differ from the whole picture's, the first few: "columns 3+1
// rows 0+2 ... (12 slits)".
std::string wrong_places(const AVFrame* frame, const std::vector<uint8_t>& full, bool deep) {
  scan::SlitScaler scaler(deep ? 6 : 3);
  std::string wrong;
  int count = 0;
  auto check = [&](const char* what, scan::Rect area, int first, int span) {
    const scan::Converted view = scaler.convert(frame, area);
    if (view && differences(*view, full, frame->width, area) == 0) return;
    if (++count <= 6)
      wrong += std::string(what) + " " + std::to_string(first) + "+" + std::to_string(span) + " ";
  };
  for (int span : {1, 2, 3, 20})
    for (int first = 0; first + span <= std::max(frame->width, frame->height); ++first) {
      if (first + span <= frame->width)
        check("columns", {first, 0, span, frame->height}, first, span);
      if (first + span <= frame->height)
        check("rows", {0, first, frame->width, span}, first, span);
    }
  return count == 0 ? wrong : wrong + "(" + std::to_string(count) + " slits)";
}

TEST(SlitScaler, SlitEqualsTheWholePictureConverted) {
  struct Shape {
    AVPixelFormat format;
    int width, height;
  };
  // Every subsampling at sizes of whole chroma samples, and at sizes whose last chroma
  // column, row or both are cut short: libswscale spreads those over the whole picture.
  std::vector<Shape> shapes;
  for (AVPixelFormat format :
       {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUV411P,
        AV_PIX_FMT_YUV440P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P10, AV_PIX_FMT_YUV422P10,
        AV_PIX_FMT_BGR24, AV_PIX_FMT_PAL8})
    for (auto [width, height] : {std::pair{96, 64}, std::pair{70, 46}, std::pair{71, 46},
                                 std::pair{70, 45}, std::pair{73, 47}})
      shapes.push_back({format, width, height});
  for (const Shape& s : shapes) {
    decode::FramePtr frame = noise_picture(s.format, s.width, s.height, 7u + s.width + s.height);
    const bool deep = scan::deep_pixel_format(s.format);
    EXPECT_EQ(wrong_places(frame.get(), whole(frame.get(), deep), deep), "")
        << av_get_pix_fmt_name(s.format) << " " << s.width << "x" << s.height;
  }
}

TEST(SlitScaler, RefusesAnAreaOutsideThePicture) {
  decode::FramePtr frame = noise_picture(AV_PIX_FMT_YUV420P, 32, 16, 1);
  scan::SlitScaler scaler(3);
  for (scan::Rect area : {scan::Rect{-1, 0, 1, 16}, scan::Rect{31, 0, 2, 16},
                          scan::Rect{0, 16, 32, 1}, scan::Rect{0, 0, 0, 16}})
    EXPECT_FALSE(scaler.convert(frame.get(), area));
}

TEST(SlitScaler, DepthFollowsThePixelFormat) {
  EXPECT_FALSE(scan::deep_pixel_format(AV_PIX_FMT_YUV420P));
  EXPECT_FALSE(scan::deep_pixel_format(AV_PIX_FMT_PAL8));
  EXPECT_TRUE(scan::deep_pixel_format(AV_PIX_FMT_YUV420P10));
  EXPECT_TRUE(scan::deep_pixel_format(AV_PIX_FMT_RGB48LE));
  EXPECT_TRUE(scan::deep_pixel_format(AV_PIX_FMT_GBRP12));
}

}  // namespace
