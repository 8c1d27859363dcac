// SPDX-License-Identifier: GPL-3.0-or-later
// Scaling into the caller's buffer: the picture lands where asked and nowhere else, at
// every width, however libswscale's SIMD rounds its rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "service/frame_scaler.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

constexpr uint32_t kUntouched = 0x12345678;

// A decoded-looking picture: mid-grey planes of `format`.
decode::FramePtr source(AVPixelFormat format, int width, int height) {
  decode::FramePtr frame = decode::new_frame();
  frame->format = format;
  frame->width = width;
  frame->height = height;
  EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
  for (int plane = 0; plane < AV_NUM_DATA_POINTERS && frame->buf[plane]; ++plane)
    std::fill_n(frame->buf[plane]->data, frame->buf[plane]->size, uint8_t{128});
  return frame;
}

// Scales into a buffer whose rows are `gap` pixels wider than the picture and which runs
// on past its last row; counts the pixels outside the picture that changed.
int stray_writes(service::FrameScaler& scaler, const AVFrame* frame, int width, int height, int gap) {
  const int stride = width + gap;
  const int tail = 64;
  std::vector<uint32_t> buffer(static_cast<size_t>(stride) * height + tail, kUntouched);
  EXPECT_TRUE(scaler.scale(frame, buffer.data(), width, height, stride));
  int strays = 0;
  for (size_t i = 0; i < buffer.size(); ++i) {
    const bool inside = i < static_cast<size_t>(stride) * height && static_cast<int>(i % stride) < width;
    if (inside) {
      EXPECT_EQ(buffer[i] >> 24, 0xffu) << "pixel " << i << " at width " << width;
    } else if (buffer[i] != kUntouched) {
      ++strays;
    }
  }
  return strays;
}

TEST(FrameScaler, WritesOnlyThePixelsAskedForAtEveryWidth) {
  for (AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_BGR24, AV_PIX_FMT_YUVJ422P}) {
    const decode::FramePtr frame = source(format, 32, 24);
    service::FrameScaler scaler;
    for (int width = 1; width <= 70; ++width)
      for (int height : {1, 3, 24}) {
        EXPECT_EQ(stray_writes(scaler, frame.get(), width, height, 0), 0)
            << av_get_pix_fmt_name(format) << " to " << width << "x" << height << ", packed";
        EXPECT_EQ(stray_writes(scaler, frame.get(), width, height, 5), 0)
            << av_get_pix_fmt_name(format) << " to " << width << "x" << height << ", in a wider pane";
      }
  }
}

TEST(FrameScaler, RefusesWhatCannotBeScaled) {
  const decode::FramePtr frame = source(AV_PIX_FMT_YUV420P, 32, 24);
  service::FrameScaler scaler;
  std::vector<uint32_t> pixels(16, kUntouched);
  EXPECT_FALSE(scaler.scale(nullptr, pixels.data(), 4, 4, 4));
  EXPECT_FALSE(scaler.scale(frame.get(), pixels.data(), 0, 4, 4));
  EXPECT_FALSE(scaler.scale(frame.get(), pixels.data(), 4, -1, 4));
  for (uint32_t pixel : pixels) EXPECT_EQ(pixel, kUntouched);
}

// A stream that turns to full-range levels mid-way: its pictures from then on are
// converted with full-range levels, as a fresh scaler converts them.
TEST(FrameScaler, FollowsAChangeOfColourRange) {
  const decode::FramePtr limited = source(AV_PIX_FMT_YUV420P, 8, 8);
  for (int y = 0; y < 8; ++y) std::fill_n(limited->data[0] + y * limited->linesize[0], 8, uint8_t{20});
  const decode::FramePtr full = source(AV_PIX_FMT_YUV420P, 8, 8);
  ASSERT_GE(av_frame_copy(full.get(), limited.get()), 0);
  full->color_range = AVCOL_RANGE_JPEG;
  std::vector<uint32_t> kept(64), fresh(64);
  service::FrameScaler scaler, fresh_scaler;
  ASSERT_TRUE(scaler.scale(limited.get(), kept.data(), 8, 8, 8));
  ASSERT_TRUE(scaler.scale(full.get(), kept.data(), 8, 8, 8));
  ASSERT_TRUE(fresh_scaler.scale(full.get(), fresh.data(), 8, 8, 8));
  EXPECT_EQ(kept, fresh);
}

}  // namespace
