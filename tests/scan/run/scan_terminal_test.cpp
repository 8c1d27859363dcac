// SPDX-License-Identifier: GPL-3.0-or-later
// On a terminal velmora-scan draws a progress bar and ends with a one-line summary, which
// counts the damaged frames (a damaged frame shows the picture before it) and the frames
// of another picture size, scaled to the first picture's.
#include <gtest/gtest.h>
#include <pty.h>

#include "tools/clipwriter/avi_bytes.h"
#include "tools/clipwriter/clip_writer.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/written.h"

namespace {

using clipwriter::ClipSpec;
using clipwriter::Codec;

// Runs velmora-scan with its stderr on a pseudo-terminal; all it wrote there.
velmora_test::Ran run_on_terminal(const std::vector<std::string>& args) {
  int terminal = -1;
  pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) velmora_test::exec_scan(args);
  return velmora_test::finish_scan(pid, terminal);
}

TEST(ScanTerminal, ProgressBarThenSummaryCountingDamagedFrames) {
  const std::string folder = velmora_test::fresh_folder("terminal");
  const std::string clip = folder + "/one-damaged.avi";
  ASSERT_TRUE(velmora_test::written(
      clipwriter::write_avi(clip, {.width = 32, .height = 24, .frames = 12, .codec = Codec::mjpeg},
                            clipwriter::test_pattern)));
  // Frame 5's picture becomes zero bytes.
  clipwriter::Bytes bytes = clipwriter::read_bytes(clip);
  const long chunk = clipwriter::video_chunks(bytes).at(5);
  std::fill_n(bytes.begin() + chunk + 8, clipwriter::get_le32(bytes, chunk + 4), 0);
  ASSERT_TRUE(clipwriter::write_bytes(clip, bytes));

  const std::string out = folder + "/streak.png";
  velmora_test::Ran ran = run_on_terminal({"--slit", "3:2", clip, out});
  ASSERT_EQ(ran.status, 0) << ran.err;
  EXPECT_NE(ran.err.find("] 12/12 frames"), std::string::npos) << ran.err;
  EXPECT_NE(ran.err.find("velmora-scan: 12 strips, 24 x 24 8-bit RGB, "), std::string::npos)
      << ran.err;
  EXPECT_NE(ran.err.find("; 1 damaged frame shows the picture before it\r\n"), std::string::npos)
      << ran.err;

  const velmora_test::Png png = velmora_test::read_png(out);
  ASSERT_EQ(png.width, 24);
  for (int y = 0; y < 24; ++y)
    for (int b = 0; b < 2 * 3; ++b) {
      const int x = b / 3, c = b % 3;
      EXPECT_EQ(png.sample(10 + x, y, c), png.sample(8 + x, y, c)) << "frame 5 repeats frame 4";
    }
  // Nothing at all with --quiet.
  ran = run_on_terminal({"--quiet", "--force", clip, out});
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ran.err, "");
}

// The summary names how many frames were scaled, and only when there were any.
TEST(ScanTerminal, SummaryCountsTheFramesOfAnotherPictureSize) {
  const std::string folder = velmora_test::fresh_folder("terminal-joined");
  const std::string clip = folder + "/joined.ts";
  const ClipSpec spec{.width = 64, .height = 48, .frames = 24, .fps_num = 25, .codec = Codec::h264,
                      .gop = 5, .container = "mpegts", .join = {.at = 12, .width = 32, .height = 24}};
  ASSERT_TRUE(velmora_test::written(clipwriter::write_clip(clip, spec, clipwriter::test_pattern)));
  struct Case {
    std::vector<std::string> args;
    std::string summary;  // what follows the seconds
  };
  const Case cases[] = {
      {{"--from", "10"}, " s; 12 frames of another picture size scaled to 64 x 48\r\n"},
      {{"--from", "20", "--every", "5"}, " s; 1 frame of another picture size scaled to 64 x 48\r\n"},
      {{"--to", "12"}, " s\r\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("--force");
    args.push_back(clip);
    args.push_back(folder + "/streak.png");
    const velmora_test::Ran ran = run_on_terminal(args);
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(ran.err.ends_with(c.summary)) << ran.err;
  }
}

}  // namespace
