// SPDX-License-Identifier: GPL-3.0-or-later
// A watch killed (SIGKILL) and run again with the same command goes on from its state file:
// the image and timeline equal one run's, and the images already in are never read again.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "tests/scan/run/scan_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Eight JPEGs named by their clocks, 22:00:01 to 22:00:08 on 7 December.
std::string camera_images(const std::string& name) {
  const std::string folder = velmora_test::fresh_folder(name);
  const std::string make = "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=1 "
                           "-frames:v 8 -start_number 1 '" + folder + "/20261207_2200%02d.jpg'";
  EXPECT_EQ(std::system(make.c_str()), 0);
  return folder;
}

std::vector<std::string> watch_args(const std::string& cam, const std::string& out,
                                    std::vector<std::string> more) {
  std::vector<std::string> args = {"--watch", "--clock", "name", "--timeline", out + ".csv"};
  args.insert(args.end(), more.begin(), more.end());
  args.push_back(cam);
  args.push_back(out);
  return args;
}

int width_of(const std::string& png) { return fs::exists(png) ? velmora_test::read_png(png).width : 0; }

// Killed before any update, between updates and right after the last image, at 1, 2 and
// 3 threads: the run again (another --threads and --idle, which do not shape the image)
// gives one uninterrupted run's image and timeline byte for byte, though every image
// already in was overwritten with garbage before it.
TEST(WatchResume, AfterSigkillEqualsOneRun) {
  const std::string src = camera_images("resume-src");
  const std::vector<fs::path> all = [&] {
    std::vector<fs::path> files(fs::directory_iterator(src), {});
    std::sort(files.begin(), files.end());
    return files;
  }();
  const std::string want = velmora_test::fresh_folder("resume-want") + "/night.png";
  ASSERT_EQ(velmora_test::run_scan(watch_args(src, want, {"--idle", "1s"})).status, 0);
  struct Case {
    size_t there;  // images in the folder when the first run starts; it is killed once it
                   // has laid them all
    const char* threads;
  };
  for (const Case& c : std::vector<Case>{{0, "1"}, {4, "2"}, {8, "3"}}) {
    const std::string cam = velmora_test::fresh_folder("resume-cam" + std::to_string(c.there));
    const std::string out = cam + "-out.png";
    fs::remove(out), fs::remove(out + ".csv"), fs::remove(out + ".velmora-state");
    for (size_t i = 0; i < c.there; ++i) fs::copy_file(all[i], cam / all[i].filename());
    int err = -1;
    const int pid = velmora_test::start_scan(watch_args(cam, out, {"--threads", "1"}), err);
    for (int i = 0; i < 200 && width_of(out) < static_cast<int>(c.there); ++i)
      std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(400ms);  // the state follows OUTPUT at once
    kill(pid, SIGKILL);
    velmora_test::finish_scan(pid, err);
    EXPECT_EQ(width_of(out), static_cast<int>(c.there));
    for (size_t i = 0; i < all.size(); ++i)
      if (i < c.there) std::ofstream(cam / all[i].filename()) << "not this image any more";
      else fs::copy_file(all[i], cam / all[i].filename());
    const velmora_test::Ran again =
        velmora_test::run_scan(watch_args(cam, out, {"--idle", "1s", "--threads", c.threads}));
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(slurp(out) == slurp(want)) << c.there;
    EXPECT_EQ(slurp(out + ".csv"), slurp(want + ".csv")) << c.there;
  }
}

// A state file of another command, or a damaged one, is refused with its message and
// OUTPUT is left as it is; without OUTPUT the state is stale and the run starts anew.
TEST(WatchResume, StateOfAnotherCommandOrDamagedIsRefused) {
  const std::string cam = camera_images("resume-refused-cam");
  const std::string out = velmora_test::fresh_folder("resume-refused") + "/night.png";
  const std::string state = out + ".velmora-state";
  ASSERT_EQ(velmora_test::run_scan(watch_args(cam, out, {"--idle", "1s"})).status, 0);
  const std::string image = slurp(out), kept = slurp(state);
  struct Case {
    std::vector<std::string> more;
    std::string state;   // the state file's bytes before the run
    bool output_there;
    int status;
    std::string said;
  };
  const std::vector<Case> cases = {
      {{"--slit", "10"}, kept, true, 1, "kept by another command (--slit not given there, 10 here)"},
      {{}, kept.substr(0, kept.size() / 2), true, 1, "damaged"},
      {{}, kept.substr(0, 40) + "!" + kept.substr(41), true, 1, "damaged"},
      {{"--slit", "10"}, kept, false, 0, ""},
  };
  for (const Case& c : cases) {
    std::ofstream(state, std::ios::binary) << c.state;
    if (c.output_there) std::ofstream(out, std::ios::binary) << image;
    else fs::remove(out);
    const velmora_test::Ran ran =
        velmora_test::run_scan(watch_args(cam, out, [&] {
          auto more = c.more;
          more.insert(more.end(), {"--idle", "1s", "--force"});
          return more;
        }()));
    EXPECT_EQ(ran.status, c.status) << ran.err;
    EXPECT_TRUE(c.said.empty() ? ran.err.empty() : ran.err.find(state + ": " + c.said) != std::string::npos)
        << ran.err;
    // Started anew, the image is the other slit's.
    EXPECT_EQ(c.status == 0 ? width_of(out) == 8 && slurp(out) != image : slurp(out) == image, true)
        << ran.err;
  }
}

}  // namespace

namespace {

// Each period's timeline in `folder` (night-*.csv): its date and the images it names.
std::map<std::string, std::vector<std::string>> periods_in(const std::string& folder) {
  std::map<std::string, std::vector<std::string>> periods;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("night-") || !name.ends_with(".csv")) continue;
    std::istringstream in(slurp(entry.path()));
    std::vector<std::string>& files = periods[name.substr(6, name.size() - 10)];
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
      std::vector<std::string> cells;
      for (std::istringstream row(line); std::getline(row, cells.emplace_back(), ',');) {}
      files.push_back(cells.at(5));
    }
  }
  return periods;
}

// --split-at across midnight, and with --utc across the end of summer time in Berlin (on
// 25 October 2026 at 03:00 the clocks went back to 02:00: 12:00 is 10:00Z the day before,
// 11:00Z that day). A run stopped and run again with more images gives what one run does.
TEST(WatchSplit, PeriodsAcrossMidnightAndSummerTime) {
  struct Case {
    std::vector<std::string> split;
    std::vector<std::string> clocks;  // the images' names, yyyymmdd_hhmmss
    std::map<std::string, std::vector<std::string>> periods;
  };
  const std::vector<Case> cases = {
      {{"--split-at", "12:00"}, {"20261207_235958", "20261208_000001", "20261208_115959",
                                "20261208_120000"},
       {{"20261207", {"20261207_235958.jpg", "20261208_000001.jpg", "20261208_115959.jpg"}},
        {"20261208", {"20261208_120000.jpg"}}}},
      {{"--split-at", "00:00"}, {"20261207_235958", "20261208_000001"},
       {{"20261207", {"20261207_235958.jpg"}}, {"20261208", {"20261208_000001.jpg"}}}},
      {{"--split-at", "11:00", "--utc"}, {"20261024_123000", "20261025_113000", "20261025_120000"},
       {{"20261023", {"20261024_123000.jpg"}},
        {"20261024", {"20261025_113000.jpg"}},
        {"20261025", {"20261025_120000.jpg"}}}},
  };
  setenv("TZ", "Europe/Berlin", 1);
  const std::string made = velmora_test::fresh_folder("split-made");
  ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=1 "
                         "-frames:v 4 -start_number 0 '" + made + "/%d.jpg'").c_str()), 0);
  int n = 0;
  for (const Case& c : cases) {
    const std::string cam = velmora_test::fresh_folder("split-cam" + std::to_string(n));
    const std::string once = velmora_test::fresh_folder("split-once" + std::to_string(n));
    const std::string twice = velmora_test::fresh_folder("split-twice" + std::to_string(n++));
    const auto args = [&](const std::string& out) {
      std::vector<std::string> a = {"--watch", "--idle", "1s", "--clock", "name", "--timeline",
                                    out + "/night-%Y%m%d.csv"};
      a.insert(a.end(), c.split.begin(), c.split.end());
      a.push_back(cam);
      a.push_back(out + "/night-%Y%m%d.png");
      return a;
    };
    const auto add = [&](size_t from, size_t to) {
      for (size_t i = from; i < to; ++i)
        fs::copy_file(made + "/" + std::to_string(i) + ".jpg", cam + "/" + c.clocks[i] + ".jpg");
    };
    add(0, c.clocks.size() - 1);
    ASSERT_EQ(velmora_test::run_scan(args(twice)).status, 0);
    add(c.clocks.size() - 1, c.clocks.size());
    const velmora_test::Ran again = velmora_test::run_scan(args(twice));
    ASSERT_EQ(again.status, 0) << again.err;
    ASSERT_EQ(velmora_test::run_scan(args(once)).status, 0);
    EXPECT_EQ(periods_in(once), c.periods);
    for (const auto& [date, files] : c.periods)
      for (const char* ending : {".png", ".csv"})
        EXPECT_TRUE(slurp(once + "/night-" + date + ending) == slurp(twice + "/night-" + date + ending))
            << date << ending;
  }
  unsetenv("TZ");
}

}  // namespace
