// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan's time axis end to end: the timeline file of constant- and variable-rate
// clips, clocks from the clip's name and creation time, --bin with empty intervals, and the
// band of --ticks beside an unchanged streak image.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "scan/time/timeline.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/written.h"
#include "tools/clipwriter/clip_writer.h"

namespace {

using clipwriter::ClipSpec;
using clipwriter::Codec;
using velmora_test::Png;

std::string text_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::vector<std::string>> csv_rows(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text_of(path));
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
    if (line.ends_with(',')) fields.emplace_back();
    rows.push_back(fields);
  }
  return rows;
}

std::string six(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", seconds);
  return text;
}

// 25 frames a second, the name and the container both saying 22:15:00 (UTC in the container).
std::string clock_clip() {
  static const std::string path = [] {
    const std::string folder = velmora_test::fresh_folder("timeline-clips");
    const std::string plain = folder + "/plain.mkv", named = folder + "/cam_20261207_221500.mkv";
    ClipSpec spec{.width = 64, .height = 48, .frames = 20, .fps_num = 25, .codec = Codec::ffv1,
                  .container = "matroska"};
    EXPECT_TRUE(
        velmora_test::written(clipwriter::write_clip(plain, spec, clipwriter::test_pattern)));
    const std::string command = "ffmpeg -nostdin -v error -y -i '" + plain +
                                "' -c copy -metadata creation_time=2026-12-07T22:15:00Z '" +
                                named + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return named;
  }();
  return path;
}

TEST(ScanTimeline, ConstantRateClipRecordsEveryStripsFrameAndClock) {
  const struct {
    const char* name;
    std::vector<std::string> args;
    const char* zone;  // after the clock's time; nullptr: no clock
  } cases[] = {
      {"creation time", {"--from", "2", "--every", "3"}, "Z"},
      {"name", {"--clock", "name", "--from", "2", "--every", "3"}, ""},
      {"none", {"--clock", "none", "--from", "2", "--every", "3"}, nullptr},
  };
  for (const auto& c : cases) {
    const std::string folder = velmora_test::fresh_folder("timeline-cfr");
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--timeline", folder + "/t.csv", clock_clip(), folder + "/o.png"});
    const velmora_test::Ran ran = velmora_test::run_scan(args);
    ASSERT_EQ(ran.status, 0) << ran.err;
    const auto rows = csv_rows(folder + "/t.csv");
    ASSERT_EQ(rows.size(), 7u) << c.name;  // frames 2, 5, ..., 20 excluded
    EXPECT_EQ(rows[0], (std::vector<std::string>{"strip", "position", "frame", "seconds", "clock",
                                                 "file", "note"}));
    for (int k = 0; k < 6; ++k) {
      const int frame = 2 + 3 * k;
      char clock[64] = "";
      if (c.zone)
        std::snprintf(clock, sizeof clock, "2026-12-07T22:15:00.%06d%s", frame * 40000, c.zone);
      EXPECT_EQ(rows[k + 1], (std::vector<std::string>{std::to_string(k), std::to_string(k),
                                                       std::to_string(frame), six(frame / 25.0),
                                                       clock, "", ""}))
          << c.name << " strip " << k;
    }
  }
}

// Pictures 40 ms apart up to 200 ms, then 300 ms up to 1.7 s, then 10 ms.
std::string uneven_clip() {
  static const std::string path = [] {
    ClipSpec spec{.width = 64, .height = 48, .frames = 16, .fps_num = 25, .codec = Codec::ffv1,
                  .container = "matroska", .ticks_per_second = 1000};
    for (int i = 0, at = 0; i < spec.frames; ++i, at += i <= 5 ? 40 : i <= 10 ? 300 : 10)
      spec.ticks.push_back(at);
    const std::string p = velmora_test::fresh_folder("timeline-vfr") + "/vfr.mkv";
    EXPECT_TRUE(velmora_test::written(clipwriter::write_clip(p, spec, clipwriter::test_pattern)));
    return p;
  }();
  return path;
}

TEST(ScanTimeline, VariableRateSecondsAndBinsWithGaps) {
  const std::string folder = velmora_test::fresh_folder("timeline-bins");
  const std::string all = folder + "/all.png", binned = folder + "/bin.png";
  ASSERT_EQ(velmora_test::run_scan({"--timeline", folder + "/all.json", uneven_clip(), all}).status, 0);
  const std::string json = text_of(folder + "/all.json");
  // Picture 6 is at 5 x 40 ms + 300 ms.
  EXPECT_NE(json.find("{\"strip\":6,\"position\":6,\"frame\":6,\"seconds\":0.500000,\"clock\":\"\""),
            std::string::npos) << json;
  EXPECT_NE(json.find("\"image\":{\"width\":16,\"height\":48},\"slit\":{\"cut\":\"vertical\",\"position\":32,\"width\":1}"),
            std::string::npos) << json;
  const velmora_test::Ran ran =
      velmora_test::run_scan({"--bin", "0.1s", "--timeline", folder + "/bin.csv", uneven_clip(), binned});
  ASSERT_EQ(ran.status, 0) << ran.err;
  // Intervals of 100 ms from 0: pictures 0, 3 (120 ms) and 5 (200 ms), then every third
  // interval from 0.5 s holds one picture, the last (1.7 s) also the fast ones after it.
  const std::vector<int> frames = {0, 3, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9,
                                   -1, -1, 10};
  const double ms[] = {0, 40, 80, 120, 160, 200, 500, 800, 1100, 1400, 1700};
  const auto rows = csv_rows(folder + "/bin.csv");
  ASSERT_EQ(rows.size(), frames.size() + 1);
  const Png whole = velmora_test::read_png(all), bins = velmora_test::read_png(binned);
  ASSERT_EQ(bins.width, static_cast<int>(frames.size()));
  for (size_t k = 0; k < frames.size(); ++k) {
    const bool gap = frames[k] < 0;
    EXPECT_EQ(rows[k + 1][2], gap ? "" : std::to_string(frames[k])) << k;
    // A gap is at its interval's start.
    EXPECT_EQ(rows[k + 1][3], six(gap ? 0.1 * static_cast<double>(k) : ms[frames[k]] / 1000)) << k;
    EXPECT_EQ(rows[k + 1][6], gap ? "gap" : "") << k;
    for (int y = 0; y < 48; y += 7)
      for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(bins.sample(static_cast<int>(k), y, ch), gap ? 0 : whole.sample(frames[k], y, ch))
            << "strip " << k << " y " << y;
  }
}

TEST(ScanTimeline, TicksAddABandAndLeaveTheStreakAsItWas) {
  const struct {
    const char* name;
    std::vector<std::string> args;
    bool deep;
  } cases[] = {
      {"below", {}, false},
      {"right", {"--cut", "horizontal"}, false},
      {"below, 16-bit", {}, true},
  };
  for (const auto& c : cases) {
    std::string clip = clock_clip();
    if (c.deep) {
      clip = velmora_test::fresh_folder("timeline-deep") + "/deep.mkv";
      ClipSpec spec{.width = 64, .height = 48, .frames = 20, .fps_num = 25, .codec = Codec::ffv1,
                    .container = "matroska", .ten_bit = true};
      ASSERT_TRUE(
          velmora_test::written(clipwriter::write_deep_clip(clip, spec, [](int f, int x, int y) {
            return std::array<uint16_t, 3>{uint16_t(f * 3000), uint16_t(x * 900),
                                           uint16_t(y * 1200)};
          })));
    }
    const std::string folder = velmora_test::fresh_folder("timeline-ticks");
    std::vector<std::string> plain_args = c.args, tick_args = c.args;
    plain_args.insert(plain_args.end(), {clip, folder + "/plain.png"});
    tick_args.insert(tick_args.end(), {"--ticks", clip, folder + "/ticks.png"});
    ASSERT_EQ(velmora_test::run_scan(plain_args).status, 0) << c.name;
    const velmora_test::Ran ran = velmora_test::run_scan(tick_args);
    ASSERT_EQ(ran.status, 0) << c.name << ran.err;
    const Png plain = velmora_test::read_png(folder + "/plain.png");
    const Png ticks = velmora_test::read_png(folder + "/ticks.png");
    const bool below = c.args.empty();
    EXPECT_EQ(ticks.bit_depth, plain.bit_depth) << c.name;
    EXPECT_EQ(below ? ticks.width : ticks.height, below ? plain.width : plain.height) << c.name;
    ASSERT_GT(below ? ticks.height : ticks.width, below ? plain.height : plain.width) << c.name;
    int64_t differ = 0, marked = 0;
    for (int y = 0; y < ticks.height; ++y)
      for (int x = 0; x < ticks.width; ++x) {
        const bool streak = x < plain.width && y < plain.height;
        for (int ch = 0; ch < 3; ++ch) {
          if (streak) differ += ticks.sample(x, y, ch) != plain.sample(x, y, ch);
          else marked += ticks.sample(x, y, ch) > (ticks.bit_depth == 16 ? 65535 : 255) / 2;
        }
      }
    EXPECT_EQ(differ, 0) << c.name;
    // The tick at the first strip (0:00) and its label at least.
    EXPECT_GT(marked, 30) << c.name;
    // A TIFF, written strip by strip, has the same band.
    tick_args.back() = folder + "/ticks.tif";
    ASSERT_EQ(velmora_test::run_scan(tick_args).status, 0) << c.name;
    EXPECT_EQ(velmora_test::read_tiff(folder + "/ticks.tif").image.bytes, ticks.bytes) << c.name;
  }
}

// A pipe's strips are recorded as they come: the same frames and times as the file's, each
// clock the moment its picture arrived.
TEST(ScanTimeline, AStreamsStripsAreRecordedAsTheyArrive) {
  const std::string folder = velmora_test::fresh_folder("timeline-stream");
  const std::vector<std::string> range = {"--every", "3", "--from", "2", "--clock", "none"};
  std::vector<std::string> file_args = range, pipe_args = range;
  file_args.insert(file_args.end(), {"--timeline", folder + "/file.csv", clock_clip(), folder + "/f.png"});
  pipe_args.insert(pipe_args.end(), {"--timeline", folder + "/pipe.csv", "-", folder + "/p.png"});
  ASSERT_EQ(velmora_test::run_scan(file_args).status, 0);
  int err_fd = -1;
  const std::string clip = clock_clip();
  const int pid = velmora_test::start_scan(pipe_args, err_fd, [&] {
    const int fd = open(clip.c_str(), O_RDONLY);
    dup2(fd, 0);
    close(fd);
  });
  const velmora_test::Ran ran = velmora_test::finish_scan(pid, err_fd);
  ASSERT_EQ(ran.status, 0) << ran.err;
  const auto file = csv_rows(folder + "/file.csv"), pipe = csv_rows(folder + "/pipe.csv");
  ASSERT_EQ(pipe.size(), file.size());
  for (size_t i = 1; i < pipe.size(); ++i) {
    EXPECT_EQ(std::vector<std::string>(pipe[i].begin(), pipe[i].begin() + 4),
              std::vector<std::string>(file[i].begin(), file[i].begin() + 4)) << i;
    const std::optional<scan::WallTime> clock = scan::parse_iso_time(pipe[i][4]);
    ASSERT_TRUE(clock && clock->offset_minutes) << pipe[i][4];
    if (i > 1) {
      EXPECT_GE(*clock->utc_micros(), *scan::parse_iso_time(pipe[i - 1][4])->utc_micros()) << i;
    }
  }
}

// An image that does not decode repeats the picture before it, and its record says so.
TEST(ScanTimeline, ARepeatedPictureIsNoted) {
  const std::string folder = velmora_test::fresh_folder("timeline-repeat");
  const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=s=32x24 -frames:v 4 '" +
                              folder + "/%d.png'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::ofstream(folder + "/3.png") << "not a picture";
  const std::string out = velmora_test::fresh_folder("timeline-repeat-out");
  const velmora_test::Ran ran =
      velmora_test::run_scan({"--timeline", out + "/t.csv", folder, out + "/o.png"});
  ASSERT_EQ(ran.status, 0) << ran.err;
  const auto rows = csv_rows(out + "/t.csv");
  ASSERT_EQ(rows.size(), 5u);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(rows[k + 1][5], std::to_string(k + 1) + ".png") << k;
    EXPECT_EQ(rows[k + 1][6], k == 2 ? "repeat" : "") << k;
  }
}

TEST(ScanTimeline, RefusedOptionsAndAFailedTimelineLeaveNoFile) {
  const std::string folder = velmora_test::fresh_folder("timeline-refused");
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"--clock", "gps"}, 2},
      {{"--bin", "0s"}, 2},
      {{"--bin", "1s", "--every", "2"}, 2},
      {{"--timeline", folder + "/t.txt"}, 2},
      {{"--ticks", "--bin", "1s", "--flush", "1"}, 2},
      {{"--ticks", "--flush", "5"}, 2},
      {{"--timeline", folder + "/missing/t.csv"}, 1},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::vector<std::string> args = cases[i].args;
    const std::string out = folder + "/o.png";
    args.insert(args.end(), {clock_clip(), out});
    const velmora_test::Ran ran = velmora_test::run_scan(args);
    EXPECT_EQ(ran.status, cases[i].status) << i << ran.err;
    EXPECT_EQ(std::filesystem::exists(out), cases[i].status == 0) << i;
    std::filesystem::remove(out);
  }
  // An image that cannot be written (a full disk) takes its timeline with it.
  const velmora_test::Ran full = velmora_test::run_scan_with_file_limit(
      {"--timeline", folder + "/t.csv", clock_clip(), folder + "/o.png"}, 100);
  EXPECT_EQ(full.status, 1) << full.err;
  EXPECT_EQ(velmora_test::names_in(folder), std::vector<std::string>{});
}

}  // namespace
