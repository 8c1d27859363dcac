// SPDX-License-Identifier: GPL-3.0-or-later
// --stats end to end: each strip's figures in the timeline against those worked out here,
// in floating point, from the image the same run wrote (the band of --ticks left out), and
// the same bytes at 1, 2 and 3 threads.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/scan/run/scan_support.h"
#include "tools/clipwriter/clip_writer.h"

namespace {

std::string text_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::vector<std::string>> csv_rows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
    if (line.ends_with(',')) fields.emplace_back();
    rows.push_back(fields);
  }
  return rows;
}

TEST(ScanStats, EachStripsFiguresAreThoseOfItsSamplesInTheImage) {
  const std::string folder = velmora_test::fresh_folder("strip-stats");
  const clipwriter::ClipSpec spec{.width = 64, .height = 48, .frames = 12};
  const std::string eight = folder + "/eight.avi", deep = folder + "/deep.mkv";
  ASSERT_EQ(clipwriter::write_avi(eight, spec, clipwriter::test_pattern), "");
  clipwriter::ClipSpec ten = spec;
  ten.codec = clipwriter::Codec::ffv1, ten.container = "matroska", ten.ten_bit = true;
  ASSERT_EQ(clipwriter::write_deep_clip(deep, ten, [](int f, int x, int y) {
              return std::array<uint16_t, 3>{uint16_t(f * 4000 + x * 300), uint16_t(y * 1300 + x * 7),
                                             uint16_t(65000 - x * y * 20)};
            }),
            "");
  const struct {
    const char* name;
    std::string input;
    std::vector<std::string> args;
    bool vertical;  // strips are columns
  } cases[] = {
      {"vertical slit of 3", eight, {"--slit", "20:3"}, true},
      {"rows with the band of --ticks", eight, {"--cut", "horizontal", "--slit", "9:2", "--ticks"}, false},
      {"16-bit line, 5 thick, max", deep,
       {"--line", "3,40,30,5,60,30", "--thickness", "5", "--reduce", "max"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string first;
    for (const char* threads : {"1", "2", "3"}) {
      std::vector<std::string> args = c.args;
      const std::string out = folder + "/k" + threads + ".png", csv = folder + "/k" + threads + ".csv";
      args.insert(args.end(), {"--force", "--stats", "--timeline", csv, "--threads", threads, c.input, out});
      const velmora_test::Ran ran = velmora_test::run_scan(args);
      ASSERT_EQ(ran.status, 0) << ran.err;
      if (first.empty()) first = text_of(csv);
      EXPECT_EQ(text_of(csv), first) << threads << " threads";
    }
    const velmora_test::Png image = velmora_test::read_png(folder + "/k1.png");
    const auto rows = csv_rows(first);
    ASSERT_EQ(rows.size(), spec.frames + 1u);
    ASSERT_EQ(rows[0].size(), 19u);
    EXPECT_EQ(rows[0][7] + " " + rows[0][12] + " " + rows[0][18], "red_mean green_min blue_sd");
    // The streak part: a horizontal cut's rows are the frame's width, the band beyond.
    const int streak_width = c.vertical ? image.width : spec.width;
    const int lines = c.vertical ? image.width / spec.frames : image.height / spec.frames;
    for (int k = 0; k < spec.frames; ++k)
      for (int ch = 0; ch < 3; ++ch) {
        double sum = 0, lo = 1e9, hi = -1, n = 0;
        std::vector<double> v;
        for (int y = 0; y < image.height; ++y)
          for (int x = 0; x < streak_width; ++x)
            if ((c.vertical ? x : y) / lines == k) v.push_back(image.sample(x, y, ch));
        for (double s : v) sum += s, lo = std::min(lo, s), hi = std::max(hi, s), ++n;
        double squares = 0;
        for (double s : v) squares += (s - sum / n) * (s - sum / n);
        const std::vector<std::string>& r = rows[k + 1];
        EXPECT_NEAR(std::stod(r[7 + ch * 4]), sum / n, 5e-7) << k << " " << ch;
        EXPECT_EQ(std::stod(r[8 + ch * 4]), lo) << k << " " << ch;
        EXPECT_EQ(std::stod(r[9 + ch * 4]), hi) << k << " " << ch;
        EXPECT_NEAR(std::stod(r[10 + ch * 4]), std::sqrt(squares / n), 1e-6) << k << " " << ch;
      }
  }
}

}  // namespace
