// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan as a library, called in this process: the strips it hands out one by one
// are the image its run writes, request after request; a stop asked for, or a strip
// refused by the caller, ends the run with that reason and leaves no file.
#include <gtest/gtest.h>

#include <cstring>

#include "scan/scan.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/clips.h"
#include "tests/support/scratch.h"

namespace {

// Keeps what it is told, and counts the strips made.
class Kept : public scan::Reporter {
 public:
  struct Counting : scan::Progress {
    int64_t done = 0;
    void update(int64_t n) override { done = n; }
  } counted;
  std::vector<std::string> said;
  void say(const std::string& line) override { said.push_back(line); }
  scan::Progress& progress() override { return counted; }
};

scan::Request request_of(std::vector<std::string> words) {
  words.insert(words.begin(), "velmora-scan");
  scan::Parsed parsed = scan::parse_options(words);
  EXPECT_EQ(parsed.action, scan::Parsed::Action::run) << parsed.error;
  return parsed.request;
}

std::string clip() {
  return velmora_test::cached_clip(
      {.width = 48, .height = 32, .frames = 9, .codec = clipwriter::Codec::mjpeg});
}

TEST(ScanLibrary, StripsHandedOutLieSideBySideAsTheImageWritten) {
  const std::string folder = velmora_test::fresh_folder("library-strips");
  const std::vector<std::vector<std::string>> cases = {
      {"--slit", "10:3"},
      {"--cut", "horizontal", "--every", "2", "--from", "1"},
      {"--line", "4,4,40,28", "--thickness", "3", "--reduce", "mean"}};
  for (size_t i = 0; i < cases.size(); ++i) {
    std::vector<std::string> words = cases[i];
    const std::string out = folder + "/" + std::to_string(i) + ".png";
    words.insert(words.end(), {clip(), out});
    const scan::Request request = request_of(words);
    Kept kept;
    const auto written = scan::run(request, kept);
    ASSERT_TRUE(written) << i << ": " << written.error().message;
    const velmora_test::Png png = velmora_test::read_png(out);
    std::vector<uint8_t> laid(png.bytes.size(), 0xAB);
    const size_t png_row = png.bytes.size() / png.height;
    const auto taken = scan::for_each_strip(request, kept, [&](const scan::Strip& s) {
      const bool columns = s.height == png.height && s.width < png.width;
      const size_t row = static_cast<size_t>(s.width) * s.pixel_bytes;
      for (int y = 0; y < s.height; ++y) {
        const size_t at = columns ? y * png_row + s.index * row : (s.index * s.height + y) * png_row;
        if (at + row > laid.size()) return base::Result<void, scan::Error>(base::failure(scan::Error{}));
        std::memcpy(laid.data() + at, s.pixels + y * row, row);
      }
      return base::Result<void, scan::Error>();
    });
    ASSERT_TRUE(taken) << i;
    EXPECT_TRUE(laid == png.bytes) << "case " << i;
  }
}

TEST(ScanLibrary, AStopOrARefusedStripEndsTheRunWithItsReasonAndLeavesNoFile) {
  const std::string folder = velmora_test::fresh_folder("library-stop");
  const scan::Request request = request_of({clip(), folder + "/streak.png"});
  Kept kept;
  const scan::Stopping stop_at_three{[&] { return kept.counted.done >= 3 ? 15 : 0; }, {}};
  const auto stopped = scan::run(request, kept, stop_at_three);
  ASSERT_FALSE(stopped);
  EXPECT_EQ(stopped.error().exit_code(), 128 + 15);
  EXPECT_TRUE(velmora_test::names_in(folder).empty());

  int64_t handed = 0;
  const auto refused = scan::for_each_strip(request, kept, [&](const scan::Strip&) {
    if (++handed < 2) return base::Result<void, scan::Error>();
    return base::Result<void, scan::Error>(
        base::failure(scan::Error{scan::ExitStatus::failed, "enough"}));
  });
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message, "enough");
  EXPECT_EQ(handed, 2);
}

}  // namespace
