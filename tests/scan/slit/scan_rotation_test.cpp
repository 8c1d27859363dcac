// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan on clips with a display matrix, as phones write them: the strips are those
// of the picture as players show it, and the slit is placed and checked on that picture.
#include <gtest/gtest.h>

#include <algorithm>

#include "tools/clipwriter/clip_writer.h"
#include "decode/display_orientation.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/written.h"

extern "C" {
#include <libavutil/display.h>
}

namespace {

using velmora_test::Png;
using velmora_test::Ran;

// Stored 48 x 32, so that a quarter turn shows in the image's size; MPEG-4 samples colour
// in 2 x 2 blocks, as phones' clips do, so the stored area's alignment to them counts.
std::string turned_clip(int rotation, bool mirror) {
  const clipwriter::ClipSpec spec{.width = 48, .height = 32, .frames = 5, .fps_num = 25,
                                  .codec = clipwriter::Codec::mpeg4, .container = "mp4",
                                  .rotation = rotation, .mirror = mirror};
  const std::string path = velmora_test::fresh_folder("turned" + std::to_string(rotation)) +
                           (mirror ? "/mirrored.mp4" : "/clip.mp4");
  EXPECT_TRUE(velmora_test::written(clipwriter::write_clip(path, spec, clipwriter::test_pattern)));
  return path;
}

Ran scan(const std::string& clip, std::vector<std::string> args, const std::string& out) {
  args.insert(args.end(), {clip, out});
  return velmora_test::run_scan(args);
}

Png scanned(const std::string& clip, const std::vector<std::string>& args) {
  const std::string out = velmora_test::fresh_folder("turned-out") + "/out.png";
  const Ran ran = scan(clip, args, out);
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(ran.err, "");
  return velmora_test::read_png(out);
}

// A picture as players show it, packed RGB24.
struct Shown {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  uint8_t* at(int x, int y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

// The whole stored picture turned clockwise a quarter at a time, then mirrored.
Shown show(const std::vector<uint8_t>& stored, int width, int height, int rotation, bool mirror) {
  Shown s{width, height, stored};
  for (int turn = 0; turn < rotation / 90; ++turn) {
    // A clockwise quarter turn shows stored (x, y) at (height - 1 - y, x).
    Shown next{s.height, s.width, std::vector<uint8_t>(s.rgb.size())};
    for (int y = 0; y < s.height; ++y)
      for (int x = 0; x < s.width; ++x) std::copy_n(s.at(x, y), 3, next.at(s.height - 1 - y, x));
    s = std::move(next);
  }
  for (int y = 0; mirror && y < s.height; ++y)
    for (int x = 0; x < s.width / 2; ++x)
      std::swap_ranges(s.at(x, y), s.at(x, y) + 3, s.at(s.width - 1 - x, y));
  return s;
}

// Strip k holds lines first .. first + width - 1 of shown[k]: columns laid left to right
// (vertical) or rows laid top to bottom.
void expect_strips(const Png& png, std::vector<Shown>& shown, bool vertical, int first,
                   int width) {
  const int strips = static_cast<int>(shown.size());
  const int along = vertical ? shown[0].height : shown[0].width;
  ASSERT_EQ(png.width, vertical ? strips * width : along);
  ASSERT_EQ(png.height, vertical ? along : strips * width);
  for (int k = 0; k < strips; ++k) {
    int wrong = 0;
    for (int j = 0; j < width; ++j)
      for (int i = 0; i < along; ++i) {
        const int line = k * width + j;
        const uint8_t* want = vertical ? shown[k].at(first + j, i) : shown[k].at(i, first + j);
        for (int c = 0; c < 3; ++c)
          wrong += png.sample(vertical ? line : i, vertical ? i : line, c) != want[c];
      }
    EXPECT_EQ(wrong, 0) << "strip " << k;
  }
}

TEST(ScanRotation, StripsAreThoseOfThePictureAsShown) {
  for (auto [rotation, mirror] : {std::pair{90, false}, {180, false}, {270, false}, {90, true},
                                  {0, true}}) {
    SCOPED_TRACE(std::to_string(rotation) + (mirror ? " mirrored" : ""));
    const std::string clip = turned_clip(rotation, mirror);
    const velmora_test::Pictures pictures = velmora_test::decode_whole(clip, false);
    std::vector<Shown> shown;
    for (const auto& rgb : pictures.rgb)
      shown.push_back(show(rgb, pictures.width, pictures.height, rotation, mirror));
    ASSERT_EQ(shown.size(), 5u);
    expect_strips(scanned(clip, {"--slit", "7:3"}), shown, true, 7, 3);
    expect_strips(scanned(clip, {"--cut", "horizontal", "--slit", "21:4"}), shown, false, 21, 4);
    // A percentage is of the shown width.
    expect_strips(scanned(clip, {"--slit", "50%:2"}), shown, true, shown[0].width / 2, 2);
  }
}

TEST(ScanRotation, NoRotateGivesTheFramesAsStored) {
  const std::string clip = turned_clip(90, false);
  EXPECT_EQ(scanned(clip, {"--slit", "7:3"}).height, 48);
  const Png stored = scanned(clip, {"--slit", "7:3", "--no-rotate"});
  EXPECT_EQ(stored.height, 32);
  EXPECT_EQ(stored.bytes, scanned(turned_clip(0, false), {"--slit", "7:3"}).bytes);
}

TEST(ScanRotation, TheSlitIsCheckedAgainstTheShownFrame) {
  const std::string clip = turned_clip(270, false);  // shown 32 x 48
  const std::string folder = velmora_test::fresh_folder("refused");
  Ran ran = scan(clip, {"--slit", "40"}, folder + "/out.png");
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err, "velmora-scan: --slit 40: outside the frame (32 columns, 0 to 31)\n");
  ran = scan(clip, {"--cut", "horizontal", "--slit", "40:10"}, folder + "/out.png");
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err, "velmora-scan: --slit 40:10: the slit reaches past the frame (48 rows)\n");
  EXPECT_EQ(velmora_test::names_in(folder), std::vector<std::string>{});
}

TEST(ScanRotation, AnOddAngleIsWarnedOfOnceAndLeavesTheFramesAsStored) {
  const std::string clip = turned_clip(45, false);
  const std::string out = velmora_test::fresh_folder("odd") + "/out.png";
  Ran ran = scan(clip, {"--slit", "7:3"}, out);
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ran.err, "velmora-scan: " + clip +
                         ": warning: its display matrix turns the picture by 45.0 degrees, not "
                         "a quarter turn; the frames are used as stored\n");
  EXPECT_EQ(velmora_test::read_png(out).bytes,
            scanned(clip, {"--slit", "7:3", "--no-rotate"}).bytes);
  ran = scan(clip, {"--slit", "7:3", "--quiet", "--force"}, out);
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ran.err, "");
}

TEST(ScanRotation, MatricesOtherThanQuarterTurnsAndMirrorsAreOdd) {
  int32_t m[9];
  for (int rotation : {0, 90, 180, 270})
    for (bool mirror : {false, true}) {
      av_display_rotation_set(m, rotation + 0.5);  // within rounding
      av_display_matrix_flip(m, mirror, 0);
      const decode::DisplayMatrix read = decode::read_display_matrix(m);
      EXPECT_TRUE(!read.odd && read.orientation == (decode::Orientation{rotation, mirror}))
          << rotation << " " << mirror;
    }
  // A quarter turn with its y axis sheared, and a matrix of rank 1.
  const int32_t shear[9] = {0, 65536, 0, -65536, 20000, 0, 0, 0, 1 << 30};
  const int32_t singular[9] = {65536, 65536, 0, 65536, 65536, 0, 0, 0, 1 << 30};
  for (const int32_t* odd : {shear, singular}) {
    EXPECT_TRUE(decode::read_display_matrix(odd).odd);
    EXPECT_EQ(decode::read_display_matrix(odd).orientation, decode::Orientation{});
  }
}

}  // namespace
