// SPDX-License-Identifier: GPL-3.0-or-later
// The clip writer: what it refuses, that its MPEG-4 clips have the groups asked for, and
// that a joined clip changes its picture size where asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "tools/clipwriter/clip_writer.h"
#include "tools/clipwriter/patterns.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/written.h"

namespace {

using clipwriter::ClipSpec;
using clipwriter::Codec;

TEST(ClipWriter, RefusesImpossibleClipsWithAReason) {
  std::string path = velmora_test::scratch_path("refused.avi");
  auto write = [&](ClipSpec spec) { return clipwriter::write_avi(path, spec, clipwriter::test_pattern); };
  const ClipSpec refused[] = {
      {0, 10}, {10, -1}, {11, 10, 5, 15, 1, Codec::mpeg4} /* odd width for 4:2:0 */, {10, 10, 0},
      {10, 10, 5, 0, 1}, {10, 10, 5, 15, 1, Codec::mpeg4, 0},
      {.width = 16, .height = 16, .matrix = clipwriter::Matrix::bt709} /* RGB has none */};
  std::vector<base::Status> written;
  for (const ClipSpec& spec : refused) written.push_back(write(spec));
  written.push_back(clipwriter::write_avi(path, {}, nullptr));
  for (const base::Status& w : written) EXPECT_TRUE(!w && !w.error().message.empty());
  const base::Status uncreatable = clipwriter::write_avi(
      velmora_test::scratch_path("no/such/dir/x.avi"), {16, 16, 2}, clipwriter::test_pattern);
  ASSERT_FALSE(uncreatable.ok());
  EXPECT_NE(uncreatable.error().message.find("cannot create"), std::string::npos)
      << uncreatable.error().message;
}

struct Counts {
  int frames = 0, keyframes = 0, b_frames = 0;
};

// Decodes the clip with plain libavcodec and counts its kinds of pictures.
Counts count_pictures(const std::string& path) {
  Counts counts;
  velmora_test::for_each_picture(path, [&](const AVFrame& frame, const AVCodecContext&) {
    ++counts.frames;
    counts.keyframes += frame.key_frame != 0;
    counts.b_frames += frame.pict_type == AV_PICTURE_TYPE_B;
  });
  return counts;
}

TEST(ClipWriter, Mpeg4ClipsHaveTheGroupsAndBFramesAskedFor) {
  std::string path = velmora_test::scratch_path("groups.avi");
  ASSERT_TRUE(velmora_test::written(clipwriter::write_avi(
      path, {64, 48, 130, 25, 1, Codec::mpeg4, 50, 2}, clipwriter::ball_pattern(64, 48, 130))));
  Counts with_b = count_pictures(path);
  EXPECT_EQ(with_b.frames, 130);
  EXPECT_EQ(with_b.keyframes, 3);  // frames 0, 50 and 100 or so
  EXPECT_GT(with_b.b_frames, 60);

  ASSERT_TRUE(velmora_test::written(clipwriter::write_avi(
      path, {64, 48, 30, 25, 1, Codec::mpeg4, 250, 0}, clipwriter::pendulum_pattern(64, 48, 30))));
  Counts without_b = count_pictures(path);
  EXPECT_EQ(without_b.frames, 30);
  EXPECT_EQ(without_b.keyframes, 1);
  EXPECT_EQ(without_b.b_frames, 0);
}

// A joined clip decodes as one stream whose pictures change size at the join, with
// rising times and the painted colours on both sides of it.
TEST(ClipWriter, JoinedClipsChangeTheirPictureSizeWhereAsked) {
  struct Case {
    const char* name;
    Codec codec;
    int at;
    int width, height;
  };
  const Case cases[] = {{"h264 smaller", Codec::h264, 7, 32, 24},
                        {"h264 larger", Codec::h264, 3, 96, 64},
                        {"mpeg4 smaller", Codec::mpeg4, 5, 16, 16}};
  for (const Case& c : cases) {
    const std::string path = velmora_test::scratch_path(std::string(c.name) + ".ts");
    const ClipSpec spec{.width = 64, .height = 48, .frames = 12, .fps_num = 25, .codec = c.codec,
                        .gop = 4, .container = "mpegts",
                        .join = {.at = c.at, .width = c.width, .height = c.height}};
    // Frames 20 steps of red apart, far more than the codecs' losses.
    auto painter = [](int frame, int x, int y) { return clipwriter::test_pattern(20 * frame, x, y); };
    ASSERT_TRUE(velmora_test::written(clipwriter::write_clip(path, spec, painter))) << c.name;
    std::vector<std::string> sizes;
    std::vector<int64_t> stamps;
    std::vector<int> reds;
    velmora_test::for_each_picture(path, [&](const AVFrame& frame, const AVCodecContext&) {
      sizes.push_back(std::to_string(frame.width) + "x" + std::to_string(frame.height));
      stamps.push_back(frame.pts);
      // Red carries the frame: read at the middle, where 4:2:0 keeps it flat.
      const std::vector<uint8_t> rgb =
          velmora_test::converted_with(frame, SWS_CS_DEFAULT, false, AV_PIX_FMT_RGB24, SWS_POINT);
      reds.push_back(rgb[(static_cast<size_t>(frame.height / 2) * frame.width + frame.width / 2) * 3]);
    });
    std::vector<std::string> wanted(12, "64x48");
    std::fill(wanted.begin() + c.at, wanted.end(),
              std::to_string(c.width) + "x" + std::to_string(c.height));
    EXPECT_EQ(sizes, wanted) << c.name;
    EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end()) &&
                std::adjacent_find(stamps.begin(), stamps.end()) == stamps.end())
        << c.name;
    int off = 0;
    for (size_t i = 0; i < reds.size(); ++i) off += std::abs(reds[i] - 20 * static_cast<int>(i)) > 6;
    EXPECT_EQ(off, 0) << c.name;
  }
  // Only a stream that carries its headers can be joined, only at one of its frames.
  const std::string path = velmora_test::scratch_path("refused.ts");
  auto write = [&](ClipSpec spec) { return clipwriter::write_clip(path, spec, clipwriter::test_pattern); };
  const ClipSpec good{.codec = Codec::h264, .container = "mpegts", .join = {5, 32, 24}};
  EXPECT_TRUE(velmora_test::written(write(good)));
  ClipSpec mp4 = good, mjpeg = good, b_frames = good, past = good, odd = good;
  mp4.container = "mp4";
  mjpeg.codec = Codec::mjpeg;
  b_frames.b_frames = 2;
  past.join.at = good.frames;
  odd.join.width = 33;
  for (const ClipSpec& bad : {mp4, mjpeg, b_frames, past, odd}) {
    const base::Status refused = write(bad);
    EXPECT_TRUE(!refused && !refused.error().message.empty());
  }
}

TEST(ClipWriter, Ffv1ClipsHaveTheGroupsAskedFor) {
  const struct {
    int gop, keyframes;
  } cases[] = {{1, 12}, {5, 3}, {12, 1}};
  for (const auto& c : cases) {
    const std::string path = velmora_test::scratch_path("ffv1-groups.mkv");
    const ClipSpec spec{.width = 32, .height = 24, .frames = 12, .codec = Codec::ffv1,
                        .container = "matroska", .ffv1_gop = c.gop};
    ASSERT_TRUE(
        velmora_test::written(clipwriter::write_clip(path, spec, clipwriter::test_pattern)));
    const Counts counts = count_pictures(path);
    EXPECT_EQ(counts.frames, 12) << c.gop;
    EXPECT_EQ(counts.keyframes, c.keyframes) << c.gop;
  }
}

TEST(ClipWriter, MjpegClipsAreAllKeyframes) {
  std::string path = velmora_test::scratch_path("mjpeg.avi");
  ASSERT_TRUE(velmora_test::written(
      clipwriter::write_avi(path, {32, 32, 9, 15, 1, Codec::mjpeg}, clipwriter::test_pattern)));
  Counts counts = count_pictures(path);
  EXPECT_EQ(counts.frames, 9);
  EXPECT_EQ(counts.keyframes, 9);
}

TEST(ClipWriter, PatternsMoveAcrossAPlainBackground) {
  EXPECT_EQ(clipwriter::test_pattern(3, 300, 7), 0x032c07u);  // 300 wraps to 44
  auto ball = clipwriter::ball_pattern(100, 50, 11);
  uint32_t background = ball(0, 99, 0);
  // Mean column of everything that is not background: the ball goes left to right.
  auto ball_x = [&](int frame) {
    double sum = 0;
    int count = 0;
    for (int y = 0; y < 50; ++y)
      for (int x = 0; x < 100; ++x)
        if (ball(frame, x, y) != background) sum += x, ++count;
    return count > 0 ? sum / count : -1.0;
  };
  for (int frame = 2; frame <= 8; ++frame) EXPECT_GT(ball_x(frame), ball_x(frame - 1)) << frame;

  auto pendulum = clipwriter::pendulum_pattern(100, 50, 11);
  EXPECT_NE(pendulum(0, 50, 1), pendulum(0, 99, 49));  // the rod hangs from the top centre
  int changed = 0;
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 100; ++x) changed += pendulum(0, x, y) != pendulum(5, x, y);
  EXPECT_GT(changed, 40);  // and swings
}

TEST(ClipWriter, RotorTurnsAboutTheCentre) {
  constexpr int W = 120, H = 90, kFrames = 90;  // one turn, frame 89 back at the start
  auto rotor = clipwriter::rotor_pattern(W, H, kFrames);
  // Angle of the red end's centre about the frame's centre, in turns.
  auto red_turn = [&](int frame) {
    double sx = 0, sy = 0;
    int count = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (rotor(frame, x, y) == 0xc03020u) sx += x + 0.5, sy += y + 0.5, ++count;
    EXPECT_GT(count, 10) << frame;
    double turn = std::atan2(sy / count - H / 2.0, sx / count - W / 2.0) / (2 * M_PI);
    return turn < 0 ? turn + 1 : turn;
  };
  double last = red_turn(0);
  EXPECT_NEAR(last, 0.0, 0.01);
  for (int frame = 10; frame < 89; frame += 10) {
    double now = red_turn(frame);
    EXPECT_NEAR(now, frame / 89.0, 0.01) << frame;
    EXPECT_GT(now, last) << frame;
    last = now;
  }
  // The far end is another colour, so the direction of turning shows in a streak image.
  EXPECT_EQ(rotor(0, W / 2 + 38, H / 2), 0xc03020u);
  EXPECT_NE(rotor(0, W / 2 - 38, H / 2), 0xc03020u);
  EXPECT_NE(rotor(0, W / 2 - 38, H / 2), rotor(0, 0, 0));
}

}  // namespace
