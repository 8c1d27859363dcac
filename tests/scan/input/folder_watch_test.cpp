// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan --watch on a folder the test fills while it runs: files written slowly,
// moved in, out of clock order, odd and broken; the image after each file; the faults.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
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

// Twelve different JPEG pictures of w x h as a camera names them, second s after 22:00 on
// 7 December (20261207_2200SS.jpg), picture s at second s.
std::string stamped(int s) {
  char name[40];
  std::snprintf(name, sizeof name, "20261207_2200%02d.jpg", s);
  return name;
}
std::string pictures(const std::string& name, int w, int h) {
  const std::string folder = velmora_test::fresh_folder(name);
  sh("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=" + std::to_string(w) + "x" +
     std::to_string(h) + ":rate=1 -frames:v 12 -start_number 1 '" + folder +
     "/20261207_2200%02d.jpg'");
  return folder;
}

// What a running velmora-scan has said on its stderr pipe so far, without waiting.
std::string said_so_far(int fd) {
  std::string said;
  char buffer[4096];
  for (pollfd ready{fd, POLLIN, 0}; poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    said.append(buffer, static_cast<size_t>(got));
  }
  return said;
}

// The timeline's file and note columns, "file note" a strip.
std::vector<std::string> strips_of(const std::string& csv) {
  std::istringstream in(slurp(csv));
  std::vector<std::string> rows;
  for (std::string line; std::getline(in, line);)
    if (std::smatch m; !line.starts_with("strip") && std::regex_search(line, m, std::regex(",([^,]*),([^,]*)$")))
      rows.push_back(m[1].str() + " " + m[2].str());
  return rows;
}

// The folder filled while watched gives, at 1, 2 and 3 threads, the image of a plain run
// over the images it took (in their clocks' order), black strips for the odd ones, and a
// timeline that names them: a file written slowly, two moved in together, the later clock
// first, an older clock, another size, a file that is no image. A 1080p image is in
// OUTPUT within a second of its closing; SIGINT ends the run with the image finished.
TEST(FolderWatch, FilledWhileWatchedGivesTheImageOfWhatItTook) {
  const std::string src = pictures("watch-src", 1920, 1080), odd = pictures("watch-odd", 64, 48);
  const auto bytes = [&](int s) { return slurp(src + "/" + stamped(s)); };
  const std::string plain = velmora_test::fresh_folder("watch-plain");
  for (int s : {1, 2, 3, 5, 6, 7, 9}) fs::copy_file(src + "/" + stamped(s), plain + "/" + stamped(s));
  const std::string want_out = velmora_test::scratch_path("watch-want.png");
  ASSERT_EQ(velmora_test::run_scan({"--clock", "name", plain, want_out}).status, 0);
  const velmora_test::Png want = velmora_test::read_png(want_out);
  std::string first;
  for (const char* threads : {"1", "2", "3"}) {
    const std::string cam = velmora_test::fresh_folder(std::string("watch-cam") + threads);
    for (int s : {1, 2, 3}) fs::copy_file(src + "/" + stamped(s), cam + "/" + stamped(s));
    const std::string out = cam + "-out.png", csv = cam + "-out.csv";
    int err = -1;
    // A glob of the folder is followed as the folder is.
    const int pid = velmora_test::start_scan(
        {"--watch", "--clock", "name", "--threads", threads, "--timeline", csv,
         threads[0] == '3' ? cam + "/2026*.jpg" : cam, out}, err);
    std::this_thread::sleep_for(500ms);
    std::ofstream slow(cam + "/" + stamped(5), std::ios::binary);
    slow << bytes(5).substr(0, 300) << std::flush;
    std::this_thread::sleep_for(400ms);
    slow << bytes(5).substr(300);
    slow.close();
    std::ofstream(cam + "/.a", std::ios::binary) << bytes(7), std::ofstream(cam + "/.b") << bytes(6);
    kill(pid, SIGSTOP);  // so that it finds both at once, however busy the machine
    fs::rename(cam + "/.a", cam + "/" + stamped(7));
    fs::rename(cam + "/.b", cam + "/" + stamped(6));
    kill(pid, SIGCONT);
    std::this_thread::sleep_for(500ms);
    std::ofstream(cam + "/" + stamped(4), std::ios::binary) << bytes(4);
    std::this_thread::sleep_for(200ms);
    fs::copy_file(odd + "/" + stamped(8), cam + "/" + stamped(8));
    std::ofstream(cam + "/" + stamped(10), std::ios::binary) << "not a picture";
    const auto strips = [&] { return fs::exists(out) ? velmora_test::read_png(out).width : 0; };
    for (int i = 0; i < 1000 && strips() < 8; ++i) std::this_thread::sleep_for(20ms);
    // The odd image and the one that is no picture are named as they arrive.
    const std::string early = said_so_far(err);
    for (int s : {8, 10})
      EXPECT_TRUE(std::regex_search(early, std::regex(stamped(s) + ": warning: [^\n]*; its strip is black")))
          << threads << " " << early;
    std::ofstream(cam + "/" + stamped(11), std::ios::binary) << bytes(9);
    const auto closed = std::chrono::steady_clock::now();
    while (strips() < 9 && std::chrono::steady_clock::now() - closed < 5s) std::this_thread::sleep_for(5ms);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - closed;
    std::printf("close to rename at %s threads: %.3f s\n", threads, took.count());
    EXPECT_LT(took.count(), 1.0);
    kill(pid, SIGINT);
    const Ran ran = velmora_test::finish_scan(pid, err);
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_NE(ran.err.find(stamped(4) + "; left out"), std::string::npos) << ran.err;
    EXPECT_NE(ran.err.find(stamped(8) + "; their strips are black"), std::string::npos) << ran.err;
    std::vector<std::string> expected;
    for (int s : {1, 2, 3, 5, 6, 7, 8, 10, 11})
      expected.push_back(stamped(s) + (s == 8 || s == 10 ? " damaged" : " "));
    EXPECT_EQ(strips_of(csv), expected) << threads;
    const velmora_test::Png got = velmora_test::read_png(out);
    ASSERT_EQ(got.width, 9);
    const int from[9] = {0, 1, 2, 3, 4, 5, -1, -1, 6};  // the plain run's column; -1: black
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

// Each fault gives its message and status, and what was written before stays whole;
// --since and --until take the images inside, without --watch too.
TEST(FolderWatch, FaultsAndClockWindows) {
  const std::string cam = pictures("watch-fault", 64, 48), clip = cam + "/" + stamped(1);
  const std::string out = velmora_test::scratch_path("watch-fault.png");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string said;  // empty: nothing said
    int width;         // of OUTPUT afterwards; 0: none
  };
  const std::vector<Case> cases = {
      {{"--watch", clip}, 2, "is not an image folder or pattern", 0},
      {{"--idle", "3s", cam}, 2, "only with --watch", 0},
      {{"--since", "25:00", cam}, 2, "not a time", 0},
      {{"--since", "2027-01-01T00:00:00", cam}, 1, "no image's clock", 0},
      {{"--since", "2026-12-07T22:00:02.5", "--until", "2026-12-07T22:00:09", cam}, 0, "", 6},
      {{"--until", "2026-12-07T22:00:07", cam}, 0, "", 6},
      {{"--watch", "--idle", "1s", cam}, 0, "", 12},
      {{"--watch", cam}, 1, "the folder watched is gone", 12},
  };
  uintmax_t six = 0;  // the bytes of the first 6 strips' image
  for (const Case& c : cases) {
    fs::remove(out);
    std::vector<std::string> args = {"--clock", "name"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(out);
    int err = -1;
    const int pid = velmora_test::start_scan(args, err);
    if (c.said.ends_with("is gone")) {
      for (int i = 0; i < 100 && !fs::exists(out); ++i) std::this_thread::sleep_for(50ms);
      std::this_thread::sleep_for(600ms);
      fs::rename(cam, cam + "-moved");
    }
    const Ran ran = velmora_test::finish_scan(pid, err);
    EXPECT_EQ(ran.status, c.status) << ran.err;
    EXPECT_EQ(c.said.empty() ? ran.err.empty() : ran.err.find(c.said) != std::string::npos, true)
        << ran.err;
    EXPECT_EQ(fs::exists(out) ? velmora_test::read_png(out).width : 0, c.width) << ran.err;
    if (c.args.front() == "--until") six = fs::file_size(out);
  }
  // A disk that fills: a write fails at last; the image before stays, whole, no temporary
  // file is left, and the run ends with 1.
  fs::rename(cam + "-moved", cam);
  fs::remove(out);
  const Ran full = velmora_test::run_scan_with_file_limit(
      {"--watch", "--idle", "1s", "--clock", "name", cam, out}, six);
  EXPECT_EQ(full.status, 1) << full.err;
  // The state file written after each image is larger than so small an image: the limit
  // may stop the run at it first.
  const int kept = velmora_test::read_png(out).width;
  EXPECT_TRUE(kept >= 1 && kept < 12) << kept;
  for (const auto& entry : fs::directory_iterator(fs::path(out).parent_path()))
    EXPECT_EQ(entry.path().filename().string().find(".watch-fault"), std::string::npos);
}

}  // namespace
