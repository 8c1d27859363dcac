// SPDX-License-Identifier: GPL-3.0-or-later
// A clip with one damaged picture, scanned with --timeline: exactly that frame's strip is
// noted as a repeat, however far ahead the decoders read.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "scan_support.h"
#include "tools/clipwriter/avi_bytes.h"
#include "tools/clipwriter/clip_writer.h"

namespace {

using clipwriter::Codec;

// The strips whose note (the last column of the CSV) is "repeat".
std::vector<int> repeated_strips(const std::string& csv) {
  std::ifstream in(csv);
  std::vector<int> strips;
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line))
    if (line.ends_with(",repeat")) strips.push_back(std::stoi(line));
  return strips;
}

TEST(RepeatNote, FallsOnTheDamagedFramesStripAtAnyThreads) {
  const std::string folder = velmora_test::fresh_folder("repeat-note");
  const int damaged = 9;
  for (Codec codec : {Codec::mjpeg, Codec::ffv1, Codec::mpeg4}) {
    const std::string clip = folder + "/clip.avi";
    ASSERT_EQ(clipwriter::write_avi(clip,
                                    {.width = 32, .height = 24, .frames = 16, .codec = codec,
                                     .gop = 4},
                                    clipwriter::test_pattern),
              "");
    // Its picture overwritten past the first bytes with a pattern no decoder takes.
    clipwriter::Bytes bytes = clipwriter::read_bytes(clip);
    const long chunk = clipwriter::video_chunks(bytes).at(damaged);
    const long size = clipwriter::get_le32(bytes, chunk + 4);
    for (long i = 4; i < size; ++i) bytes[chunk + 8 + i] = static_cast<uint8_t>(i * 37 % 251);
    ASSERT_TRUE(clipwriter::write_bytes(clip, bytes));
    for (const char* threads : {"1", "3"}) {
      const std::string csv = folder + "/t.csv";
      const velmora_test::Ran ran = velmora_test::run_scan(
          {"--force", "--threads", threads, "--timeline", csv, clip, folder + "/o.png"});
      ASSERT_EQ(ran.status, 0) << ran.err;
      EXPECT_EQ(repeated_strips(csv), std::vector<int>{damaged})
          << static_cast<int>(codec) << " at " << threads << " threads";
    }
  }
}

}  // namespace
