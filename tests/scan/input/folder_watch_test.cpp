// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan --watch on a folder the test fills while it runs: files written slowly,
// moved in, out of clock order, odd and broken; the image after each file; the faults.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/scan/run/scan_support.h"

namespace {

namespace fs = std::filesystem;
using velmora_test::Ran;
using namespace std::chrono_literals;

void sh(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Twelve different JPEG pictures of w x h, 01.jpg ... 12.jpg.
std::string pictures(const std::string& name, int w, int h) {
  const std::string folder = velmora_test::fresh_folder(name);
  sh("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=" + std::to_string(w) + "x" +
     std::to_string(h) + ":rate=1 -frames:v 12 '" + folder + "/%02d.jpg'");
  return folder;
}

// A camera's name for second `s` after 22:00 on 7 December.
std::string stamped(int s) {
  char name[40];
  std::snprintf(name, sizeof name, "20261207_2200%02d.jpg", s);
  return name;
}

// The timeline's file and note columns, one "file note" per strip.
std::vector<std::string> strips_of(const std::string& csv) {
  std::istringstream in(slurp(csv));
  std::vector<std::string> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::stringstream cut(line);
    for (std::string cell; std::getline(cut, cell, ',');) cells.push_back(cell);
    rows.push_back(cells.at(5) + " " + (cells.size() > 6 ? cells[6] : ""));
  }
  return rows;
}

// Writes `bytes` into `path` in two halves with a pause between, as a slow camera does.
void write_slowly(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const size_t half = bytes.size() / 2;
  ASSERT_EQ(write(fd, bytes.data(), half), static_cast<ssize_t>(half));
  std::this_thread::sleep_for(400ms);
  ASSERT_EQ(write(fd, bytes.data() + half, bytes.size() - half),
            static_cast<ssize_t>(bytes.size() - half));
  close(fd);
}

// The folder filled as the run watches it gives, at 1, 2 and 3 threads, the image of a
// plain run over the images it took (in their clocks' order), black strips for the odd
// ones, and a timeline that names them.
TEST(FolderWatch, FilledWhileWatchedGivesTheImageOfWhatItTook) {
  const std::string src = pictures("watch-src", 64, 48);
  const std::string odd = pictures("watch-odd", 32, 48);
  const std::string plain = velmora_test::fresh_folder("watch-plain");
  for (int s : {1, 2, 3, 5, 6, 7, 9}) fs::copy_file(src + "/" + stamped(s).substr(13, 2) + ".jpg", plain + "/" + stamped(s));
  const std::string want_out = velmora_test::scratch_path("watch-want.png");
  ASSERT_EQ(velmora_test::run_scan({"--clock", "name", plain, want_out}).status, 0);
  const velmora_test::Png want = velmora_test::read_png(want_out);
  std::string first;
  for (const char* threads : {"1", "2", "3"}) {
    const std::string cam = velmora_test::fresh_folder(std::string("watch-cam") + threads);
    for (int s : {1, 2, 3}) fs::copy_file(src + "/" + stamped(s).substr(13, 2) + ".jpg", cam + "/" + stamped(s));
    const std::string out = cam + "-out.png", csv = cam + "-out.csv";
    int err = -1;
    const int pid = velmora_test::start_scan({"--watch", "--idle", "2s", "--clock", "name",
                                              "--threads", threads, "--timeline", csv,
                                              // A glob of the folder is followed as the folder is.
                                              threads[0] == '3' ? cam + "/2026*.jpg" : cam, out},
                                             err);
    std::this_thread::sleep_for(500ms);
    const auto bytes = [&](int s) { return slurp(src + "/" + stamped(s).substr(13, 2) + ".jpg"); };
    // Written slowly in place; then two moved in together, the later clock first.
    write_slowly(cam + "/" + stamped(5), bytes(5));
    std::ofstream(cam + "/.a", std::ios::binary) << bytes(7);
    std::ofstream(cam + "/.b", std::ios::binary) << bytes(6);
    // Stopped meanwhile, so that the watch finds both at once, however busy the machine.
    kill(pid, SIGSTOP);
    fs::rename(cam + "/.a", cam + "/" + stamped(7));
    fs::rename(cam + "/.b", cam + "/" + stamped(6));
    kill(pid, SIGCONT);
    std::this_thread::sleep_for(500ms);
    // An older clock, another size, a file that is no image, then a good one.
    std::ofstream(cam + "/" + stamped(4), std::ios::binary) << bytes(4);
    std::this_thread::sleep_for(200ms);
    fs::copy_file(odd + "/08.jpg", cam + "/" + stamped(8));
    std::ofstream(cam + "/" + stamped(8).replace(13, 2, "10"), std::ios::binary) << "not a picture";
    std::this_thread::sleep_for(200ms);
    std::ofstream(cam + "/" + stamped(11), std::ios::binary) << bytes(9);
    const Ran ran = velmora_test::finish_scan(pid, err);
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_NE(ran.err.find(stamped(4) + "; left out"), std::string::npos) << ran.err;
    EXPECT_NE(ran.err.find(stamped(8) + "; their strips are black"), std::string::npos) << ran.err;
    const std::vector<std::string> expected = {
        stamped(1) + " ", stamped(2) + " ", stamped(3) + " ", stamped(5) + " ", stamped(6) + " ",
        stamped(7) + " ", stamped(8) + " damaged", stamped(10) + " damaged", stamped(11) + " "};
    EXPECT_EQ(strips_of(csv), expected) << threads;
    const velmora_test::Png got = velmora_test::read_png(out);
    ASSERT_EQ(got.width, 9);
    // Strip by strip: the plain run's columns where an image was taken, black where odd.
    const int from[9] = {0, 1, 2, 3, 4, 5, -1, -1, 6};
    int wrong = 0;
    for (int x = 0; x < got.width; ++x)
      for (int y = 0; y < got.height; ++y)
        for (int c = 0; c < 3; ++c)
          wrong += got.sample(x, y, c) != (from[x] < 0 ? 0 : want.sample(from[x], y, c));
    EXPECT_EQ(wrong, 0) << threads;
    if (first.empty()) first = slurp(out);
    EXPECT_TRUE(slurp(out) == first) << threads;
  }
}

// A 1080p image closed in the folder is in OUTPUT within a second; SIGINT then ends the
// run with the image finished.
TEST(FolderWatch, ImageIsUpdatedWithinASecondAndSigintFinishesIt) {
  const std::string src = pictures("watch-hd", 1920, 1080);
  const std::string cam = velmora_test::fresh_folder("watch-hd-cam");
  fs::copy_file(src + "/01.jpg", cam + "/" + stamped(1));
  const std::string out = cam + "-out.png";
  int err = -1;
  const int pid = velmora_test::start_scan({"--watch", "--clock", "name", cam, out}, err);
  struct stat before {};
  for (int i = 0; i < 100 && stat(out.c_str(), &before) != 0; ++i) std::this_thread::sleep_for(50ms);
  ASSERT_EQ(stat(out.c_str(), &before), 0);
  fs::copy_file(src + "/02.jpg", cam + "/" + stamped(2));
  const auto closed = std::chrono::steady_clock::now();
  struct stat now = before;
  while (stat(out.c_str(), &now) == 0 && now.st_ino == before.st_ino &&
         std::chrono::steady_clock::now() - closed < 5s)
    std::this_thread::sleep_for(5ms);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - closed).count();
  std::printf("close to rename: %.3f s\n", took);
  EXPECT_LT(took, 1.0);
  kill(pid, SIGINT);
  const Ran ran = velmora_test::finish_scan(pid, err);
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(velmora_test::read_png(out).width, 2);
}

// Each fault gives its message and status; what was written before stays whole.
TEST(FolderWatch, FaultsSayWhatAndKeepTheLastGoodImage) {
  const std::string src = pictures("watch-fault", 64, 48);
  const std::string cam = velmora_test::fresh_folder("watch-fault-cam");
  for (int s = 1; s <= 12; ++s) fs::copy_file(src + "/" + stamped(s).substr(13, 2) + ".jpg", cam + "/" + stamped(s));
  const std::string clip = src + "/01.jpg";
  struct Case {
    std::string what;
    std::vector<std::string> args;
    int status;
    std::string said;
  };
  const std::string out = velmora_test::scratch_path("watch-fault.png");
  const std::vector<Case> cases = {
      {"a clip", {"--watch", clip, out}, 2, "is not an image folder or pattern"},
      {"--idle alone", {"--idle", "3s", cam, out}, 2, "only with --watch"},
      {"a wrong time", {"--since", "25:00", cam, out}, 2, "not a time"},
      {"a window without images", {"--clock", "name", "--since", "2027-01-01T00:00:00", cam, out},
       1, "no image's clock"},
      {"the folder gone", {"--watch", "--clock", "name", cam, out}, 1, "the folder watched is gone"},
  };
  for (const Case& c : cases) {
    fs::remove(out);
    int err = -1;
    const int pid = velmora_test::start_scan(c.args, err);
    if (c.what == "the folder gone") {
      for (int i = 0; i < 100 && !fs::exists(out); ++i) std::this_thread::sleep_for(50ms);
      std::this_thread::sleep_for(600ms);
      fs::rename(cam, cam + "-moved");
    }
    const Ran ran = velmora_test::finish_scan(pid, err);
    EXPECT_EQ(ran.status, c.status) << c.what << ran.err;
    EXPECT_NE(ran.err.find(c.said), std::string::npos) << c.what << ran.err;
    if (c.what == "the folder gone") {
      EXPECT_EQ(velmora_test::read_png(out).width, 12);
    }
  }
  // A disk that fills: the image of every strip so far is written at each one, until a
  // write fails; the one before stays, whole, and the run ends with 1.
  fs::rename(cam + "-moved", cam);
  const std::string six = velmora_test::scratch_path("watch-six.png");
  ASSERT_EQ(velmora_test::run_scan({"--clock", "name", "--until", "2026-12-07T22:00:07", cam, six}).status, 0);
  fs::remove(out);
  const Ran full = velmora_test::run_scan_with_file_limit(
      {"--watch", "--idle", "1s", "--clock", "name", cam, out}, fs::file_size(six));
  EXPECT_EQ(full.status, 1) << full.err;
  const velmora_test::Png kept = velmora_test::read_png(out);
  EXPECT_GE(kept.width, 6);
  EXPECT_LT(kept.width, 12);
  for (const auto& entry : fs::directory_iterator(fs::path(out).parent_path()))
    EXPECT_EQ(entry.path().filename().string().find(".watch-fault"), std::string::npos);
}

// --since and --until take the images whose clocks lie inside, without --watch too.
TEST(FolderWatch, SinceAndUntilTakeTheImagesInside) {
  const std::string src = pictures("watch-window", 32, 24);
  const std::string cam = velmora_test::fresh_folder("watch-window-cam");
  for (int s = 1; s <= 12; ++s) fs::copy_file(src + "/" + stamped(s).substr(13, 2) + ".jpg", cam + "/" + stamped(s));
  struct Case {
    std::vector<std::string> bounds;
    int first, last;
  };
  const std::vector<Case> cases = {
      {{"--since", "2026-12-07T22:00:04"}, 4, 12},
      {{"--until", "2026-12-07T22:00:04"}, 1, 3},
      {{"--since", "2026-12-07T22:00:02.5", "--until", "2026-12-07T22:00:09"}, 3, 8},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--clock", "name", "--timeline", cam + ".csv", "-f"};
    args.insert(args.end(), c.bounds.begin(), c.bounds.end());
    args.insert(args.end(), {cam, cam + ".png"});
    const Ran ran = velmora_test::run_scan(args);
    ASSERT_EQ(ran.status, 0) << ran.err;
    std::vector<std::string> expected;
    for (int s = c.first; s <= c.last; ++s) expected.push_back(stamped(s) + " ");
    EXPECT_EQ(strips_of(cam + ".csv"), expected) << testing::PrintToString(c.bounds);
  }
}

}  // namespace
