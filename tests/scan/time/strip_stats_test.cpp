// SPDX-License-Identifier: GPL-3.0-or-later
// --stats end to end: each strip's figures in the timeline against those worked out here,
// in floating point, from the image the same run wrote (the band of --ticks left out), and
// the same bytes at 1, 2 and 3 threads.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "tests/scan/run/scan_support.h"
#include "tests/support/written.h"
#include "tools/clipwriter/clip_writer.h"

namespace {

TEST(ScanStats, EachStripsFiguresAreThoseOfItsSamplesInTheImage) {
  const std::string folder = velmora_test::fresh_folder("strip-stats");
  const clipwriter::ClipSpec spec{.width = 64, .height = 48, .frames = 12};
  clipwriter::ClipSpec ten = spec;
  ten.codec = clipwriter::Codec::ffv1, ten.container = "matroska", ten.ten_bit = true;
  ASSERT_TRUE(velmora_test::written(
      clipwriter::write_avi(folder + "/8.avi", spec, clipwriter::test_pattern)));
  ASSERT_TRUE(velmora_test::written(
      clipwriter::write_deep_clip(folder + "/16.mkv", ten, [](int f, int x, int y) {
        return std::array<uint16_t, 3>{uint16_t(f * 4000 + x * 300), uint16_t(y * 1300 + x * 7),
                                       uint16_t(65000 - x * y * 20)};
      })));
  const struct {
    const char* input;
    std::vector<std::string> args;
    bool vertical;  // strips are columns
  } cases[] = {
      {"/8.avi", {"--slit", "20:3"}, true},
      {"/8.avi", {"--cut", "horizontal", "--slit", "9:2", "--ticks"}, false},
      {"/16.mkv", {"--line", "3,40,30,5,60,30", "--thickness", "5", "--reduce", "max"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::string first;
    for (const char* threads : {"1", "2", "3"}) {
      std::vector<std::string> args = c.args;
      args.insert(args.end(), {"--force", "--stats", "--timeline", folder + "/k.csv", "--threads",
                               threads, folder + c.input, folder + "/k.png"});
      ASSERT_EQ(velmora_test::run_scan(args).status, 0);
      std::ostringstream csv;
      csv << std::ifstream(folder + "/k.csv").rdbuf();
      if (first.empty()) first = csv.str();
      EXPECT_EQ(csv.str(), first) << threads << " threads";
    }
    const velmora_test::Png image = velmora_test::read_png(folder + "/k.png");
    std::istringstream lines(first);
    std::string line;
    std::getline(lines, line);
    EXPECT_TRUE(line.ends_with(",note,red_mean,red_min,red_max,red_sd,green_mean,green_min,"
                               "green_max,green_sd,blue_mean,blue_min,blue_max,blue_sd")) << line;
    // The streak part: a horizontal cut's rows are the frame's width, the band beyond.
    const int streak_width = c.vertical ? image.width : spec.width;
    const int lines_a_strip = (c.vertical ? image.width : image.height) / spec.frames;
    int k = 0;
    for (; std::getline(lines, line); ++k) {
      std::vector<double> got;  // the 12 figures after the 7 fields of time
      std::istringstream cells(line);
      for (std::string cell; std::getline(cells, cell, ',');) got.push_back(cell.empty() ? -1 : std::stod(cell));
      ASSERT_EQ(got.size(), 19u);
      for (int ch = 0; ch < 3; ++ch) {
        std::vector<double> v;
        for (int y = 0; y < image.height; ++y)
          for (int x = 0; x < streak_width; ++x)
            if ((c.vertical ? x : y) / lines_a_strip == k) v.push_back(image.sample(x, y, ch));
        double mean = 0, spread = 0;
        for (double s : v) mean += s / static_cast<double>(v.size());
        for (double s : v) spread += (s - mean) * (s - mean) / static_cast<double>(v.size());
        const std::vector<double> want{mean, *std::min_element(v.begin(), v.end()),
                                       *std::max_element(v.begin(), v.end()), std::sqrt(spread)};
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[7 + ch * 4 + i], want[i], 1e-6) << k << " " << ch << " " << i;
      }
    }
    EXPECT_EQ(k, spec.frames);
  }
}

}  // namespace
