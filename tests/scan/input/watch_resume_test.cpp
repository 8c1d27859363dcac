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
