// SPDX-License-Identifier: GPL-3.0-or-later
// One scaler kept across pictures: a picture that differs from the one before in anything
// the conversion reads is converted as a fresh scaler converts it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "decode/rgb_scaler.h"

namespace {

// A 4:2:0 picture whose levels run across the range, so that range and matrix both show.
decode::FramePtr picture(int width, int height, AVColorRange range, AVColorSpace matrix) {
  decode::FramePtr frame = decode::new_frame();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = width;
  frame->height = height;
  frame->color_range = range;
  frame->colorspace = matrix;
  EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
  for (int plane = 0; plane < 3; ++plane) {
    const int w = plane == 0 ? width : (width + 1) / 2, h = plane == 0 ? height : (height + 1) / 2;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        frame->data[plane][y * frame->linesize[plane] + x] =
            static_cast<uint8_t>(plane == 0 ? 8 + 15 * x : 40 + 50 * plane + 9 * y);
  }
  return frame;
}

std::vector<uint8_t> convert(decode::RgbScaler& scaler, const AVFrame* frame) {
  SwsContext* sws = scaler.scaler_for(frame, frame->width, frame->height, AV_PIX_FMT_RGB24,
                                      SWS_BILINEAR | SWS_ACCURATE_RND | SWS_BITEXACT);
  EXPECT_NE(sws, nullptr);
  decode::FramePtr out;
  AVFrame* rgb = decode::keep_padded_picture(out, AV_PIX_FMT_RGB24, frame->width, frame->height);
  EXPECT_GT(sws_scale(sws, frame->data, frame->linesize, 0, frame->height, rgb->data, rgb->linesize), 0);
  std::vector<uint8_t> bytes;
  for (int y = 0; y < frame->height; ++y)
    bytes.insert(bytes.end(), rgb->data[0] + y * rgb->linesize[0],
                 rgb->data[0] + y * rgb->linesize[0] + frame->width * 3);
  return bytes;
}

TEST(RgbScaler, EachChangeOfThePictureGivesWhatAFreshScalerGives) {
  struct Case {
    std::string what;
    int width, height;
    AVColorRange range;
    AVColorSpace matrix;
  };
  const Case first{"first picture", 16, 8, AVCOL_RANGE_MPEG, AVCOL_SPC_BT470BG};
  const Case cases[] = {
      {"full range", 16, 8, AVCOL_RANGE_JPEG, AVCOL_SPC_BT470BG},
      {"BT.709 matrix", 16, 8, AVCOL_RANGE_MPEG, AVCOL_SPC_BT709},
      {"another size", 18, 6, AVCOL_RANGE_MPEG, AVCOL_SPC_BT470BG},
  };
  for (const Case& c : cases) {
    decode::RgbScaler kept;
    (void)convert(kept, picture(first.width, first.height, first.range, first.matrix).get());
    const decode::FramePtr changed = picture(c.width, c.height, c.range, c.matrix);
    decode::RgbScaler fresh;
    EXPECT_EQ(convert(kept, changed.get()), convert(fresh, changed.get())) << c.what;
  }
}

}  // namespace
