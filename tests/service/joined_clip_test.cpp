// SPDX-License-Identifier: GPL-3.0-or-later
// A clip whose picture size changes midway (two clips joined) opens at its first
// picture's size and steps across the change both ways; every picture, of either size,
// is scaled whole to the output size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "service/clip.h"
#include "tests/support/scratch.h"
#include "tests/support/written.h"
#include "tools/clipwriter/clip_writer.h"

namespace {

using service::MediaStatus;

constexpr int W = 64, H = 48, FRAMES = 24, JOIN = 12;
constexpr int OUT_W = 80, OUT_H = 60;  // the pane, neither part's size
constexpr uint32_t sentinel = 0x12345678;

// Red tells the frame (20 steps apart, far more than H.264 loses), green x, blue y.
uint32_t painter(int frame, int x, int y) {
  return clipwriter::test_pattern(20 * frame % 256, x, y);
}

// The largest difference of a component between `pixels` (OUT_W x OUT_H, 0xAARRGGBB) and
// frame `frame`'s picture of width x height spread over the whole output: a pixel shows
// the painted point under its centre.
int largest_difference(const std::vector<uint32_t>& pixels, int frame, int width, int height) {
  int largest = 0;
  for (int y = 0; y < OUT_H; ++y)
    for (int x = 0; x < OUT_W; ++x) {
      const uint32_t got = pixels[static_cast<size_t>(y) * OUT_W + x];
      if (got == sentinel) return 1 << 16;
      const double sx = std::clamp((x + 0.5) * width / OUT_W - 0.5, 0.0, width - 1.0);
      const double sy = std::clamp((y + 0.5) * height / OUT_H - 0.5, 0.0, height - 1.0);
      const int want[3] = {20 * frame % 256, static_cast<int>(std::lround(sx)),
                           static_cast<int>(std::lround(sy))};
      for (int c = 0; c < 3; ++c)
        largest = std::max(largest, std::abs(static_cast<int>(got >> (16 - 8 * c) & 0xff) - want[c]));
    }
  return largest;
}

TEST(JoinedClip, StepsAcrossTheSizeChangeAndScalesEveryPictureToTheOutput) {
  struct Case {
    const char* name;
    int width, height;  // after the join
  };
  const Case cases[] = {{"smaller", 32, 24}, {"larger", 96, 72}, {"another shape", 32, 40}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = velmora_test::scratch_path(std::string(c.name) + ".ts");
    const clipwriter::ClipSpec spec{.width = W, .height = H, .frames = FRAMES, .fps_num = 25,
                                    .codec = clipwriter::Codec::h264, .gop = 5,
                                    .container = "mpegts",
                                    .join = {.at = JOIN, .width = c.width, .height = c.height}};
    ASSERT_TRUE(velmora_test::written(clipwriter::write_clip(path, spec, painter)));
    service::Clip::Opened opened = service::Clip::open(path);
    ASSERT_EQ(opened.status, MediaStatus::ok) << opened.detail;
    service::Clip& clip = *opened.clip;
    EXPECT_EQ(clip.length(), FRAMES);
    EXPECT_EQ(clip.width(), W);
    EXPECT_EQ(clip.height(), H);
    clip.set_output_size(OUT_W, OUT_H);

    // Forward over the change and back again (back comes from the kept pictures), each
    // position painted into the pane and through a picture for a video window.
    std::vector<int64_t> path_taken;
    ASSERT_EQ(clip.seek(JOIN - 3), MediaStatus::ok);
    for (int step = 0; step < 12; ++step) {
      path_taken.push_back(clip.position());
      const int frame = static_cast<int>(clip.position());
      const bool after = frame >= JOIN;
      const int width = after ? c.width : W, height = after ? c.height : H;
      std::vector<uint32_t> pane(OUT_W * OUT_H, sentinel);
      ASSERT_EQ(clip.render({pane.data(), OUT_W, OUT_H, OUT_W}, {0, 0, OUT_W, OUT_H}),
                MediaStatus::ok);
      EXPECT_LE(largest_difference(pane, frame, width, height), 12) << "frame " << frame;
      std::shared_ptr<const service::VideoPicture> picture = clip.picture({0, 0, OUT_W, OUT_H});
      ASSERT_NE(picture, nullptr);
      EXPECT_EQ(picture->pixels, pane) << "frame " << frame;
      ASSERT_EQ(step < 6 ? clip.step_forward() : clip.step_back(), MediaStatus::ok);
    }
    EXPECT_EQ(path_taken, (std::vector<int64_t>{9, 10, 11, 12, 13, 14, 15, 14, 13, 12, 11, 10}));
  }
}

}  // namespace
