// SPDX-License-Identifier: GPL-3.0-or-later
// Pixels after render: exact for RGB clips at their own size, clipped to the target; YUV
// clips in the colours their matrix gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tools/clipwriter/clip_writer.h"
#include "service/clip.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/written.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int W = 70, H = 45, FRAMES = 12;  // odd sizes: no row padding hides a fault
constexpr uint32_t sentinel = 0x12345678;

uint32_t expected(int frame, int x, int y) { return 0xff000000u | clipwriter::test_pattern(frame, x, y); }

class RgbClip : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = velmora_test::scratch_path("rgb.avi");
    clipwriter::ClipSpec spec{W, H, FRAMES, 15, 1, clipwriter::Codec::rgb};
    ASSERT_TRUE(
        velmora_test::written(clipwriter::write_avi(path_, spec, clipwriter::test_pattern)));
    auto opened = service::Clip::open(path_);
    ASSERT_EQ(opened.status, service::MediaStatus::ok) << opened.detail;
    clip_ = std::move(opened.clip);
  }
  std::string path_;
  std::unique_ptr<service::Clip> clip_;
};

TEST_F(RgbClip, EveryPixelArrivesUnchangedAtTheClipsSize) {
  EXPECT_EQ(clip_->length(), FRAMES);
  for (int frame : {0, 5, 11, 3}) {
    ASSERT_EQ(clip_->seek(frame), service::MediaStatus::ok);
    std::vector<uint32_t> pixels(W * H, sentinel);
    service::PixelBuffer target{pixels.data(), W, H, W};
    ASSERT_EQ(clip_->render(target, {0, 0, W, H}), service::MediaStatus::ok);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        ASSERT_EQ(pixels[y * W + x], expected(frame, x, y)) << frame << " " << x << "," << y;
  }
}

TEST_F(RgbClip, ExactAlsoWhenTheOutputSizeDiffersFromTheDestination) {
  clip_->set_output_size(20, 10);  // render must not go through the pooled small picture
  ASSERT_EQ(clip_->seek(7), service::MediaStatus::ok);
  std::vector<uint32_t> pixels(W * H, sentinel);
  ASSERT_EQ(clip_->render({pixels.data(), W, H, W}, {0, 0, W, H}), service::MediaStatus::ok);
  EXPECT_EQ(pixels[0], expected(7, 0, 0));
  EXPECT_EQ(pixels[(H - 1) * W + W - 1], expected(7, W - 1, H - 1));
}

TEST_F(RgbClip, RenderIsClippedToTheTargetAndWritesNothingOutside) {
  ASSERT_EQ(clip_->seek(2), service::MediaStatus::ok);
  // A target wider than its rows' use (stride), with the picture hanging off every side.
  const int tw = 50, th = 30, stride = 64;
  for (service::Rect dest : {service::Rect{-10, -5, W, H}, service::Rect{20, 10, W, H}}) {
    std::vector<uint32_t> pixels(stride * th, sentinel);
    ASSERT_EQ(clip_->render({pixels.data(), tw, th, stride}, dest), service::MediaStatus::ok);
    for (int y = 0; y < th; ++y)
      for (int x = 0; x < stride; ++x) {
        int sx = x - dest.x, sy = y - dest.y;
        bool covered = x < tw && sx >= 0 && sx < W && sy >= 0 && sy < H;
        ASSERT_EQ(pixels[y * stride + x], covered ? expected(2, sx, sy) : sentinel)
            << "dest " << dest.x << "," << dest.y << " at " << x << "," << y;
      }
  }
}

TEST_F(RgbClip, RenderOfNothingOrOutsideTheTargetIsHarmless) {
  std::vector<uint32_t> pixels(W * H, sentinel);
  service::PixelBuffer target{pixels.data(), W, H, W};
  EXPECT_EQ(clip_->render(target, {W, 0, W, H}), service::MediaStatus::ok);
  EXPECT_EQ(clip_->render(target, {0, 0, 0, H}), service::MediaStatus::ok);
  EXPECT_EQ(clip_->render(target, {-5, -5, -3, 4}), service::MediaStatus::ok);
  EXPECT_EQ(clip_->render({nullptr, W, H, W}, {0, 0, W, H}), service::MediaStatus::ok);
  EXPECT_EQ(clip_->render(target, {0, 0, 100000, 100000}), service::MediaStatus::out_of_memory);
  EXPECT_EQ(clip_->render(target, {INT32_MAX - 5, INT32_MAX - 5, 1000, 1000}), service::MediaStatus::ok);
  EXPECT_EQ(std::count(pixels.begin(), pixels.end(), sentinel), W * H);
  EXPECT_EQ(clip_->picture({0, 0, 0, 0}), nullptr);
  EXPECT_EQ(clip_->picture({0, 0, 1 << 20, 4}), nullptr);
}

TEST_F(RgbClip, PictureAtTheOutputSizeHoldsTheFrameShown) {
  ASSERT_EQ(clip_->step_forward(), service::MediaStatus::ok);
  auto picture = clip_->picture({3, 4, W, H});
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->place, (service::Rect{3, 4, W, H}));
  ASSERT_EQ(picture->pixels.size(), static_cast<size_t>(W * H));
  EXPECT_EQ(picture->pixels[10 * W + 20], expected(1, 20, 10));
  // Scaled up: every pixel comes from frame 1's pattern, so red still tells the frame.
  auto bigger = clip_->picture({0, 0, 2 * W, 2 * H});
  ASSERT_TRUE(bigger);
  EXPECT_EQ((bigger->pixels[2 * W * 40 + 60] >> 16) & 0xff, 1u);
}

TEST(RgbClipSizes, ExactPixelsAtSeveralShapes) {
  for (auto [w, h] : {std::pair{1, 1}, {3, 7}, {33, 2}, {320, 240}}) {
    std::string path = velmora_test::scratch_path("shape.avi");
    ASSERT_TRUE(velmora_test::written(clipwriter::write_avi(
        path, {w, h, 3, 10, 1, clipwriter::Codec::rgb}, clipwriter::test_pattern)));
    auto opened = service::Clip::open(path);
    ASSERT_EQ(opened.status, service::MediaStatus::ok) << w << "x" << h << opened.detail;
    ASSERT_EQ(opened.clip->seek(2), service::MediaStatus::ok);
    std::vector<uint32_t> pixels(w * h);
    ASSERT_EQ(opened.clip->render({pixels.data(), w, h, w}, {0, 0, w, h}), service::MediaStatus::ok);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(pixels[y * w + x], expected(2, x, y)) << w << "x" << h;
  }
}

}  // namespace

namespace {

// Full-range JPEG levels must come out at their own brightness, not stretched.
TEST(LossyColours, FlatColourSurvivesMjpegAndMpeg4Closely) {
  constexpr uint32_t colour = 0x3080c0;
  for (auto codec : {clipwriter::Codec::mjpeg, clipwriter::Codec::mpeg4}) {
    std::string path = velmora_test::scratch_path("flat.avi");
    ASSERT_TRUE(velmora_test::written(clipwriter::write_avi(path, {64, 48, 4, 10, 1, codec, 250, 1},
                                                            [](int, int, int) { return colour; })));
    auto opened = service::Clip::open(path);
    ASSERT_EQ(opened.status, service::MediaStatus::ok) << opened.detail;
    ASSERT_EQ(opened.clip->seek(3), service::MediaStatus::ok);
    std::vector<uint32_t> pixels(64 * 48);
    ASSERT_EQ(opened.clip->render({pixels.data(), 64, 48, 64}, {0, 0, 64, 48}), service::MediaStatus::ok);
    for (int shift : {0, 8, 16}) {
      int got = (pixels[24 * 64 + 32] >> shift) & 0xff, want = (colour >> shift) & 0xff;
      EXPECT_NEAR(got, want, 6) << "channel shift " << shift;
    }
    EXPECT_EQ(pixels[0] >> 24, 0xffu);
  }
}

}  // namespace

namespace {

// The largest difference of any channel between two pictures of 0xAARRGGBB pixels.
int largest_difference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  int largest = a.size() == b.size() ? 0 : 256;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    for (int shift : {0, 8, 16, 24}) {
      const int one = (a[i] >> shift) & 0xff, other = (b[i] >> shift) & 0xff;
      largest = std::max(largest, std::abs(one - other));
    }
  return largest;
}

// YUV clips come out as FFmpeg converts them: with the matrix and levels they say they
// use, BT.601 when they say nothing.
TEST(LossyColours, PicturesAreReadWithTheClipsColourMatrix) {
  using clipwriter::Codec;
  using clipwriter::Matrix;
  struct Case {
    const char* file;
    Codec codec;
    Matrix matrix;
    bool full_range;
    int sws_matrix;  // what the reference reads the pictures with
  };
  const Case cases[] = {
      {"bt709.avi", Codec::h264, Matrix::bt709, false, SWS_CS_ITU709},
      {"bt709-full.avi", Codec::h264, Matrix::bt709, true, SWS_CS_ITU709},
      {"bt2020.mkv", Codec::ffv1, Matrix::bt2020, false, SWS_CS_BT2020},
      {"untagged.avi", Codec::h264, Matrix::untagged, false, SWS_CS_ITU601},
  };
  constexpr int w = 64, h = 16;
  for (const Case& c : cases) {
    const std::string path = velmora_test::scratch_path(c.file);
    clipwriter::ClipSpec spec{.width = w, .height = h, .frames = 2, .codec = c.codec,
                              .container = c.codec == Codec::ffv1 ? "matroska" : "avi",
                              .ten_bit = c.codec == Codec::ffv1, .matrix = c.matrix,
                              .full_range = c.full_range};
    ASSERT_TRUE(velmora_test::written(clipwriter::write_clip(path, spec, clipwriter::colour_bars)))
        << c.file;
    std::vector<uint32_t> reference;
    velmora_test::for_each_picture(path, [&](const AVFrame& frame, const AVCodecContext&) {
      if (!reference.empty()) return;
      const std::vector<uint8_t> bytes = velmora_test::converted_with(
          frame, c.sws_matrix, c.full_range, AV_PIX_FMT_RGB32, SWS_BILINEAR);
      reference.resize(bytes.size() / 4);
      std::memcpy(reference.data(), bytes.data(), bytes.size());
    });
    auto opened = service::Clip::open(path);
    ASSERT_EQ(opened.status, service::MediaStatus::ok) << c.file << opened.detail;
    std::vector<uint32_t> pixels(w * h);
    ASSERT_EQ(opened.clip->render({pixels.data(), w, h, w}, {0, 0, w, h}), service::MediaStatus::ok);
    EXPECT_LE(largest_difference(pixels, reference), 1) << c.file;
  }
}

}  // namespace
