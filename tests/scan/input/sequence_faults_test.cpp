// SPDX-License-Identifier: GPL-3.0-or-later
// Image sequences with something missing or wrong: numbers missing from a printf pattern's
// run, JPEGs cut short or overwritten, a first image that does not decode, files and
// folders that cannot be read. Each image's strip comes from its own data or, noted, from
// the picture before; the run says what happened once; threads change nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "tests/scan/run/scan_support.h"

namespace {

namespace fs = std::filesystem;
using velmora_test::Png;
using velmora_test::Ran;

void sh(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

// Six detailed JPEGs 0001.jpg, ...: most of each file is picture data, not tables.
std::string jpegs(const std::string& name) {
  const std::string folder = velmora_test::fresh_folder(name);
  sh("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=160x120:rate=25 -vf "
     "noise=alls=30:allf=t+u -frames:v 6 -q:v 3 '" + folder + "/%04d.jpg'");
  return folder;
}

struct Scanned {
  Ran ran;
  Png png;
  std::vector<std::string> notes;  // the timeline's last column, strip by strip
};

Scanned scan(std::vector<std::string> args) {
  const std::string out = velmora_test::fresh_folder("faults-out");
  args.insert(args.begin(), {"--timeline", out + "/t.csv"});
  args.push_back(out + "/out.png");
  Scanned s;
  s.ran = velmora_test::run_scan(args);
  if (s.ran.status != 0) return s;
  s.png = velmora_test::read_png(out + "/out.png");
  std::ifstream csv(out + "/t.csv");
  std::string line;
  std::getline(csv, line);
  while (std::getline(csv, line)) s.notes.push_back(line.substr(line.rfind(',') + 1));
  return s;
}

// Strip x of a one-column-per-strip image.
std::vector<uint8_t> strip(const Png& png, int x) {
  std::vector<uint8_t> column;
  for (int y = 0; y < png.height; ++y)
    for (int c = 0; c < 3; ++c) column.push_back(static_cast<uint8_t>(png.sample(x, y, c)));
  return column;
}

bool black(const std::vector<uint8_t>& column) {
  return std::all_of(column.begin(), column.end(), [](uint8_t v) { return v == 0; });
}

TEST(SequenceFaults, APrintfPatternTakesEveryNumberAndKeepsItsGaps) {
  const std::string frames = jpegs("faults-frames");
  struct Case {
    std::vector<int> numbers;
    std::vector<std::string> extra;
    int strips;
    std::string black_notes;  // per strip: 'g' a black gap strip, '.' a picture
    bool warns;
  } cases[] = {
      {{1, 2, 3, 5, 6}, {}, 5, ".....", true},
      {{1, 2, 3, 5, 6}, {"--clock", "none", "--bin", "0.04s"}, 6, "...g..", true},
      {{7, 8, 9}, {}, 3, "...", false},
  };
  for (const Case& c : cases) {
    const std::string folder = velmora_test::fresh_folder("faults-pp");
    for (size_t i = 0; i < c.numbers.size(); ++i)
      fs::copy_file(frames + "/000" + std::to_string(i + 1) + ".jpg",
                    folder + "/g" + std::to_string(c.numbers[i]) + ".jpg");
    std::vector<std::string> args = c.extra;
    args.push_back(folder + "/g%d.jpg");
    const Scanned s = scan(args);
    const std::string what = testing::PrintToString(c.numbers) + testing::PrintToString(c.extra);
    ASSERT_EQ(s.ran.status, 0) << what << s.ran.err;
    ASSERT_EQ(s.png.width, c.strips) << what;
    std::string got;
    for (int x = 0; x < s.png.width; ++x)
      got += s.notes[x] == "gap" && black(strip(s.png, x)) ? 'g' : '.';
    EXPECT_EQ(got, c.black_notes) << what;
    EXPECT_EQ(s.ran.err.find("have no image, the first 4") != std::string::npos, c.warns)
        << what << s.ran.err;
  }
}

// Whole, cut-short and overwritten JPEGs: at every thread count the same image, each
// damaged strip noted and its own, never another image's.
TEST(SequenceFaults, DamagedJpegsGiveTheirOwnStripsAtAnyThreads) {
  struct Case {
    std::string decoder;
    std::map<int, std::string> spoil;  // image number -> how
  } cases[] = {
      {"auto", {{2, "cut 50"}, {4, "cut 10"}}},
      {"ffmpeg", {{2, "cut 50"}, {4, "cut 10"}}},
      {"ffmpeg", {{3, "overwrite"}}},
  };
  for (const Case& c : cases) {
    const std::string folder = jpegs("faults-damaged");
    for (const auto& [n, how] : c.spoil) {
      const std::string file = folder + "/000" + std::to_string(n) + ".jpg";
      const auto size = fs::file_size(file);
      if (how.starts_with("cut")) {
        fs::resize_file(file, size * std::stoi(how.substr(4)) / 100);
        continue;
      }
      std::fstream bytes(file, std::ios::in | std::ios::out | std::ios::binary);
      for (uint64_t at = size / 3; at < size - 2; at += 97) bytes.seekp(at), bytes.put('\x5a');
    }
    std::vector<uint8_t> first;
    for (const char* threads : {"1", "2", "3"}) {
      const std::string what = c.decoder + " " + c.spoil.begin()->second + " at " + threads;
      const Scanned s = scan({"--decoder", c.decoder, "--threads", threads, folder});
      ASSERT_EQ(s.ran.status, 0) << what << s.ran.err;
      if (first.empty() && c.spoil.begin()->second.starts_with("cut"))
        EXPECT_NE(s.ran.err.find("2 image(s) end early"), std::string::npos) << s.ran.err;
      if (first.empty()) first = s.png.bytes;
      EXPECT_TRUE(s.png.bytes == first) << what;
      for (const auto& [n, how] : c.spoil) {
        const int x = n - 1;
        if (s.notes[x] == "repeat") {
          EXPECT_EQ(strip(s.png, x), strip(s.png, x - 1)) << what;
          continue;
        }
        if (how.starts_with("cut")) EXPECT_EQ(s.notes[x], "damaged") << what;
        for (int other = 0; other < s.png.width; ++other)
          if (other != x) EXPECT_NE(strip(s.png, x), strip(s.png, other)) << what << " " << other;
      }
    }
  }
}

TEST(SequenceFaults, AFirstImageThatDoesNotDecodeIsBlackNotTheNextPicture) {
  const std::string folder = jpegs("faults-first");
  std::ofstream(folder + "/0001.jpg") << "not a picture";
  const Scanned s = scan({folder});
  ASSERT_EQ(s.ran.status, 0) << s.ran.err;
  EXPECT_TRUE(black(strip(s.png, 0)));
  EXPECT_EQ(s.notes[0], "damaged");
  EXPECT_EQ(s.notes[1], "");
}

// As root, the run is made as nobody, for whom the modes count.
TEST(SequenceFaults, WhatCannotBeReadIsNamedWithWhy) {
  const std::string folder = jpegs("faults-locked");
  const std::string out = velmora_test::fresh_folder("faults-locked-out");
  const std::string locked = velmora_test::fresh_folder("faults-locked-dir");
  fs::copy_file(folder + "/0001.jpg", locked + "/a.jpg");
  for (const std::string& open : {velmora_test::scratch_dir().string(), folder, out})
    chmod(open.c_str(), 0777);
  chmod((folder + "/0003.jpg").c_str(), 0);
  chmod(locked.c_str(), 0);
  struct Case {
    std::string input, words;
    int status;
  } cases[] = {
      {folder, "1 image(s) cannot be read, the first " + folder + "/0003.jpg (Permission denied)",
       0},
      {locked + "/*.jpg", "cannot list " + locked + ": Permission denied", 1},
      {locked + "/a%d.jpg", "cannot list " + locked + ": Permission denied", 1},
  };
  for (const Case& c : cases) {
    int err_fd = -1;
    const int pid = velmora_test::start_scan({"-f", c.input, out + "/out.png"}, err_fd, [] {
      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
    });
    const Ran ran = velmora_test::finish_scan(pid, err_fd);
    EXPECT_EQ(ran.status, c.status) << c.input << ran.err;
    EXPECT_NE(ran.err.find(c.words), std::string::npos) << ran.err;
  }
  chmod(locked.c_str(), 0700);
}

}  // namespace
