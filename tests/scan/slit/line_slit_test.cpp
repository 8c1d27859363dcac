// SPDX-License-Identifier: GPL-3.0-or-later
// Slits along lines. A lossless clip whose red is x and green is y makes every bilinear
// sample checkable: a linear picture interpolates to the place itself, rounded half up.
// Lines that meet pixel centres must give the pixels of a whole-frame conversion exactly,
// and --line must give --slit's and --cut horizontal's images where they describe one slit.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

#include "scan/slit/reduce.h"
#include "scan/slit/slit_path.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/written.h"
#include "tools/clipwriter/clip_writer.h"

namespace {

using velmora_test::Png;
using velmora_test::Ran;

constexpr int frames = 3;

// 256 x 256, red = x, green = y, blue tells the frame.
const std::string& ramp_clip() {
  static const std::string path = [] {
    const clipwriter::ClipSpec spec{.width = 256, .height = 256, .frames = frames};
    std::string p = velmora_test::fresh_folder("ramp") + "/ramp.avi";
    EXPECT_TRUE(velmora_test::written(clipwriter::write_avi(p, spec, [](int f, int x, int y) {
      return uint32_t(x) << 16 | uint32_t(y) << 8 | uint32_t(f * 100);
    })));
    return p;
  }();
  return path;
}

// A clip stored in YUV 4:2:0, larger than one tile each way, shown turned when `rotation`;
// MJPEG in AVI when `jpeg`, whose pictures are decoded only where the slits are.
std::string yuv_clip(int rotation, bool jpeg = false) {
  const clipwriter::ClipSpec spec{.width = 200, .height = 136, .frames = frames, .fps_num = 25,
                                  .codec = jpeg ? clipwriter::Codec::mjpeg : clipwriter::Codec::mpeg4,
                                  .container = jpeg ? "avi" : "mp4", .rotation = rotation};
  std::string p = velmora_test::fresh_folder("yuv" + std::to_string(rotation)) +
                  (jpeg ? "/clip.avi" : "/clip.mp4");
  EXPECT_TRUE(velmora_test::written(clipwriter::write_clip(p, spec, clipwriter::test_pattern)));
  return p;
}

Png scanned(const std::string& clip, std::vector<std::string> args) {
  const std::string out = velmora_test::fresh_folder("line-out") + "/out.png";
  args.insert(args.end(), {clip, out});
  const Ran ran = velmora_test::run_scan(args);
  EXPECT_EQ(ran.status, 0) << ran.err;
  return ran.status == 0 ? velmora_test::read_png(out) : Png{};
}

int round_half_up(double v) { return static_cast<int>(std::floor(v + 0.5)); }

// Checks every strip of a ramp image laid left to right, `lines` columns a strip: line j's
// sample i should read the place `at(strip, j, i)`.
void expect_ramp(const Png& png, int lines, int samples,
                 const std::function<scan::Point(int, int, int)>& at) {
  ASSERT_EQ(png.width, frames * lines);
  ASSERT_EQ(png.height, samples);
  int wrong = 0;
  for (int k = 0; k < frames; ++k)
    for (int j = 0; j < lines; ++j)
      for (int i = 0; i < samples; ++i) {
        const scan::Point p = at(k, j, i);
        const int x = k * lines + j;
        if (png.sample(x, i, 0) != round_half_up(p.x) || png.sample(x, i, 1) != round_half_up(p.y) ||
            png.sample(x, i, 2) != k * 100)
          if (++wrong < 5)
            ADD_FAILURE() << "strip " << k << " line " << j << " sample " << i << " at " << p.x
                          << "," << p.y << ": " << png.sample(x, i, 0) << ","
                          << png.sample(x, i, 1);
      }
  EXPECT_EQ(wrong, 0);
}

TEST(LineSlit, SamplesTheRampAlongPaths) {
  const double d = std::sqrt(0.5);
  struct Case {
    std::vector<std::string> args;
    int samples;
    std::function<scan::Point(int, int, int)> at;
  } cases[] = {
      {{"--line", "0,0,255,255"}, 361, [&](int, int, int i) { return scan::Point{i * d, i * d}; }},
      // A corner at sample 50: a 3-4-5 segment, then straight down.
      {{"--line", "10,20,40,60,40,100"}, 91,
       [](int, int, int i) {
         return i <= 50 ? scan::Point{10 + 0.6 * i, 20 + 0.8 * i} : scan::Point{40.0, 10.0 + i};
       }},
      // 50% of 255 is 127.5; a fractional start halfway between pixel centres.
      {{"--line", "12.5,3,12.5,50%"}, 125,
       [](int, int, int i) { return scan::Point{12.5, 3.0 + i}; }},
      // Thickness: offsets -1, 0, 1 along the normal (0.8, -0.6).
      {{"--line", "10,20,40,60", "--thickness", "3"}, 51,
       [](int, int j, int i) {
         return scan::Point{10 + 0.6 * i + 0.8 * (j - 1), 20 + 0.8 * i - 0.6 * (j - 1)};
       }},
      // Moving: a column from x = 0 to x = 100; strip 1 at 50.
      {{"--line", "0,0,0,100..100,0,100,100"}, 101,
       [](int k, int, int i) { return scan::Point{50.0 * k, double(i)}; }},
      // A moving path that grows keeps its sample count: strip k's samples are 1 + k apart.
      {{"--line", "0,0,0,60..90,0,90,180"}, 61,
       [](int k, int, int i) { return scan::Point{45.0 * k, (1.0 + k) * i}; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const int lines = c.args.size() > 2 ? 3 : 1;
    expect_ramp(scanned(ramp_clip(), c.args), lines, c.samples, c.at);
  }
}

TEST(LineSlit, ReducersCombineTheLinesOfAThickSlit) {
  // Three columns 10, 11, 12 (with --slit) and four lines x = 8.5 .. 11.5 (with --line),
  // whose reds round to 9, 10, 11, 12: worked out by hand for each reducer.
  const struct {
    const char* reducer;
    int slit, line;
  } cases[] = {{"mean", 11, 11}, {"max", 12, 12}, {"min", 10, 9}, {"median", 11, 11}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reducer);
    const Png by_slit = scanned(ramp_clip(), {"--slit", "10:3", "--reduce", c.reducer});
    const Png by_line =
        scanned(ramp_clip(), {"--line", "10,0,10,255", "--thickness", "4", "--reduce", c.reducer});
    ASSERT_EQ(by_slit.width, frames);
    ASSERT_EQ(by_line.width, frames);
    for (int y : {0, 77, 255}) {
      EXPECT_EQ(by_slit.sample(1, y, 0), c.slit);
      EXPECT_EQ(by_line.sample(2, y, 0), c.line);
      EXPECT_EQ(by_line.sample(2, y, 1), y);
    }
  }
}

// A ramp's lines are evenly spaced, so its mean and median agree; these values tell every
// reducer (and its name) apart.
TEST(LineSlit, ReducersByNameOnValuesThatTellThemApart) {
  const struct {
    const char* reducer;
    std::vector<uint8_t> values;
    int expected;
  } cases[] = {
      {"mean", {0, 1, 9}, 3},        {"median", {0, 1, 9}, 1},   {"max", {0, 1, 9}, 9},
      {"min", {4, 1, 9}, 1},         {"copy", {7}, 7},           {"mean", {0, 1, 4, 9}, 4},
      {"median", {9, 0, 4, 1}, 3},   {"mean", {0, 0, 1}, 0},     {"median", {0, 1}, 1},
  };
  for (const auto& c : cases) {
    const auto reducer = scan::reducer_named(c.reducer);
    ASSERT_TRUE(reducer) << c.reducer;
    // One sample of values.size() lines; the value in each component.
    std::vector<uint8_t> pixels;
    for (uint8_t v : c.values) pixels.insert(pixels.end(), {v, v, v});
    std::vector<uint8_t> out(3);
    scan::reduce_lines(pixels.data(), int64_t(c.values.size()), 1, 3, *reducer, out.data());
    EXPECT_EQ(out, std::vector<uint8_t>(3, uint8_t(c.expected)))
        << c.reducer << " of " << c.values.size() << " values";
  }
  EXPECT_FALSE(scan::reducer_named("sum"));
}

TEST(LineSlit, ReducersRoundHalvesUpAt16Bits) {
  // Two samples of two lines: 16-bit components 1 and 2, 65534 and 65535, 5 and 8.
  const std::vector<uint8_t> lines = {0, 1, 255, 254, 0, 0, 0, 2, 255, 255, 0, 0,
                                      0, 5, 0,   0,   0, 0, 0, 8, 0,   0,   0, 0};
  std::vector<uint8_t> out(12);
  scan::reduce_lines(lines.data(), 2, 2, 6, scan::Reducer::median, out.data());
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 2, 255, 255, 0, 0, 0, 7, 0, 0, 0, 0}));
}

TEST(LineSlit, LinesAlongColumnsAndRowsGiveTheSlitsImages) {
  for (auto [rotation, jpeg] : {std::pair{0, false}, {90, false}, {0, true}}) {
    SCOPED_TRACE(testing::Message() << rotation << (jpeg ? " MJPEG" : ""));
    const std::string clip = yuv_clip(rotation, jpeg);
    const int w = rotation ? 136 : 200, h = rotation ? 200 : 136;
    const std::string column = "100,0,100," + std::to_string(h - 1);
    const std::string row = "0,70," + std::to_string(w - 1) + ",70";
    EXPECT_EQ(scanned(clip, {"--line", column}).bytes, scanned(clip, {"--slit", "100"}).bytes);
    EXPECT_EQ(scanned(clip, {"--line", row, "--time-axis", "down"}).bytes,
              scanned(clip, {"--cut", "horizontal", "--slit", "70"}).bytes);
    EXPECT_EQ(scanned(clip, {"--line", column, "--thickness", "5"}).bytes,
              scanned(clip, {"--slit", "98:5"}).bytes);
    // A moving slit that stands still is the still one.
    EXPECT_EQ(scanned(clip, {"--slit", "30..30:2"}).bytes, scanned(clip, {"--slit", "30:2"}).bytes);
  }
}

TEST(LineSlit, DeepClipsKeepTheirSixteenBits) {
  const clipwriter::ClipSpec spec{.width = 64, .height = 48, .frames = frames,
                                  .codec = clipwriter::Codec::ffv1, .container = "matroska",
                                  .ten_bit = true};
  const std::string clip = velmora_test::fresh_folder("deep-line") + "/clip.mkv";
  ASSERT_TRUE(
      velmora_test::written(clipwriter::write_deep_clip(clip, spec, [](int f, int x, int y) {
        return std::array<uint16_t, 3>{uint16_t(x * 997), uint16_t(y * 1301), uint16_t(f * 20000)};
      })));
  const Png line = scanned(clip, {"--line", "10,0,10,47", "--thickness", "3"});
  EXPECT_EQ(line.bit_depth, 16);
  EXPECT_EQ(line.bytes, scanned(clip, {"--slit", "9:3"}).bytes);
}

TEST(LineSlit, APathThroughManyTilesMeetsTheWholeConversion) {
  // Along pixel centres only, across tiles and the frame's edges: each sample is a pixel.
  const std::string clip = yuv_clip(0);
  const velmora_test::Pictures whole = velmora_test::decode_whole(clip, false);
  const Png png = scanned(clip, {"--line", "0,0,70,0,70,135,199,135,199,64,130,64"});
  std::vector<std::pair<int, int>> places;
  for (int x = 0; x <= 70; ++x) places.push_back({x, 0});
  for (int y = 1; y <= 135; ++y) places.push_back({70, y});
  for (int x = 71; x <= 199; ++x) places.push_back({x, 135});
  for (int y = 134; y >= 64; --y) places.push_back({199, y});
  for (int x = 198; x >= 130; --x) places.push_back({x, 64});
  ASSERT_EQ(png.height, int(places.size()));
  int wrong = 0;
  for (int k = 0; k < frames; ++k)
    for (size_t i = 0; i < places.size(); ++i)
      for (int c = 0; c < 3; ++c)
        wrong += png.sample(k, int(i), c) !=
                 whole.rgb[k][(size_t(places[i].second) * whole.width + places[i].first) * 3 + c];
  EXPECT_EQ(wrong, 0);
}

TEST(LineSlit, SeveralSlitsInOnePassAreTheSingleRunsImages) {
  for (bool jpeg : {false, true}) {
    SCOPED_TRACE(jpeg ? "MJPEG" : "MPEG-4");
    const std::string clip = yuv_clip(0, jpeg);
    const std::vector<std::vector<std::string>> slits = {
        {"--line", "0,0,199,135"}, {"--slit", "20..60:2"}, {"--line", "5,5,150,5,150,100"}};
    const std::string folder = velmora_test::fresh_folder("several");
    std::vector<std::string> args;
    for (const auto& slit : slits) args.insert(args.end(), slit.begin(), slit.end());
    std::vector<std::string> failing_args = args;
    args.insert(args.end(), {clip, folder + "/s%d.png"});
    const Ran ran = velmora_test::run_scan(args);
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(velmora_test::names_in(folder),
              (std::vector<std::string>{"s1.png", "s2.png", "s3.png"}));
    for (size_t n = 0; n < slits.size(); ++n)
      EXPECT_EQ(velmora_test::read_png(folder + "/s" + std::to_string(n + 1) + ".png").bytes,
                scanned(clip, slits[n]).bytes);
    if (jpeg) continue;
    // The last image fails when written (a file-size limit, as a full disk), after the others
    // are complete: none of them is left.
    const std::string failing = velmora_test::fresh_folder("several-failing");
    failing_args.insert(failing_args.end(), {"--slit", "0:150", clip, failing + "/s%d.png"});
    const Ran full = velmora_test::run_scan_with_file_limit(failing_args, 20000);
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("/s4.png: "), std::string::npos) << full.err;
    EXPECT_EQ(velmora_test::names_in(failing), std::vector<std::string>{});
  }
}

TEST(LineSlit, MovingSlitStepsByItsRoundingRule) {
  // Strips at 10 + 3k/2 rounded half up: 10, 12 (11.5), 13.
  const Png png = scanned(ramp_clip(), {"--slit", "10..13"});
  ASSERT_EQ(png.width, frames);
  EXPECT_EQ(png.sample(0, 5, 0), 10);
  EXPECT_EQ(png.sample(1, 5, 0), 12);
  EXPECT_EQ(png.sample(2, 5, 0), 13);
  EXPECT_EQ(scan::moving_position(10, 4, 1, 5), 9);  // 8.5 rounds up, going down too
}

// A --slit percentage follows --line's rule, so 0% and 100% are the first and last columns.
TEST(LineSlit, SlitPercentagesAreThoseOfLines) {
  const struct {
    std::string slit, line;
  } cases[] = {
      {"100%", "100%,0,100%,100%"},
      {"20%", "20%,0,20%,100%"},
      {"0%..100%", "0%,0,0%,100%..100%,0,100%,100%"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(scanned(ramp_clip(), {"--slit", c.slit}).bytes,
              scanned(ramp_clip(), {"--line", c.line}).bytes)
        << c.slit;
}

TEST(LineSlit, BadInputGetsOneLineAndStatus2) {
  const std::string folder = velmora_test::fresh_folder("line-bad");
  struct Case {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"--line", "3,4"}, "--line 3,4: a path needs two points at least"},
      {{"--line", "0,0,256,10"},
       "--line 0,0,256,10: point 2 (256, 10) lies outside the frame (256 x 256, 0,0 to 255,255)"},
      {{"--line", "0,0,0,255", "--thickness", "2"},
       "--line 0,0,0,255: with --thickness 2 the slit reaches past the frame (256 x 256)"},
      {{"--line", "9,0,9,9", "--thickness", "0"}, "--thickness 0: must be a whole number, 1 or more"},
      {{"--line", "9,0,9,9", "--thickness", "999999999"},
       "--line 9,0,9,9: with --thickness 999999999 the slit reaches past the frame (256 x 256)"},
      {{"--slit", "5:3", "--reduce", "sum"}, "--reduce sum: must be copy, mean, max, min or median"},
      {{"--slit", "5.."}, "--slit 5..: the slit's last position is missing after .."},
      {{"--line", "0,0,9,9..0,0,9,9,9,0"},
       "--line 0,0,9,9..0,0,9,9,9,0: the paths before and after .. have 2 and 3 points; give the "
       "same number"},
      {{"--line", "0,0,9,9", "--cut", "vertical"},
       "--line and --cut: a line runs any way; use --time-axis"},
      {{"--line", "0,0,9,9", "--slit", "4"},
       folder + "/out.png: several slits need %d in OUTPUT, for 1, 2, ..."},
      {{"--slit", "10..300"}, "--slit 10..300: outside the frame (256 columns, 0 to 255)"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {ramp_clip(), folder + "/out.png"});
    const Ran ran = velmora_test::run_scan(args);
    EXPECT_EQ(ran.status, 2);
    EXPECT_EQ(ran.err, "velmora-scan: " + c.says + "\n");
  }
  EXPECT_EQ(velmora_test::names_in(folder), std::vector<std::string>{});
}

}  // namespace
