// SPDX-License-Identifier: GPL-3.0-or-later
// FFV1 with groups (frames that carry on from the one before) and with keyframes only, in
// Matroska and AVI, also joined clips whose picture size changes: read by name and through
// a pipe, at 1, 2 and 3 threads, run after run, they give one image byte for byte.
#include <gtest/gtest.h>

#include "tests/scan/run/scan_support.h"
#include "tests/support/written.h"
#include "tools/clipwriter/clip_writer.h"

namespace {

using clipwriter::ClipSpec;
using clipwriter::Codec;

TEST(ScanFfv1, EveryInputGivesOneImageAtEveryThreadCount) {
  const std::string folder = velmora_test::fresh_folder("scan-ffv1");
  const ClipSpec base{.width = 64, .height = 48, .frames = 40, .fps_num = 25,
                      .codec = Codec::ffv1};
  struct Case {
    const char* name;
    const char* container;
    int gop;
    ClipSpec::Join join;
  };
  const Case cases[] = {
      {"groups.mkv", "matroska", 7, {}},
      {"groups.avi", "avi", 7, {}},
      // A pipe's AVI flags every packet a keyframe.
      {"keys.avi", "avi", 1, {}},
      {"joined.mkv", "matroska", 7, {20, 32, 24}},
      {"joined-keys.avi", "avi", 1, {20, 32, 24}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClipSpec spec = base;
    spec.container = c.container;
    spec.ffv1_gop = c.gop;
    spec.join = c.join;
    const std::string clip = folder + "/" + c.name;
    ASSERT_TRUE(
        velmora_test::written(clipwriter::write_clip(clip, spec, clipwriter::test_pattern)));
    const std::string out = folder + "/out.png";
    std::vector<uint8_t> first;
    for (const bool piped : {false, true}) {
      // Twice at three threads: an image that changes from run to run shows.
      for (const int threads : {1, 2, 3, 3}) {
        const std::vector<std::string> args = {"-f", "--threads", std::to_string(threads)};
        std::vector<std::string> named = args;
        named.insert(named.end(), {clip, out});
        std::vector<std::string> rest = args;
        rest.insert(rest.end(), {"-", out});
        const velmora_test::Ran ran =
            piped ? velmora_test::run_scan_on_pipe(clip, rest) : velmora_test::run_scan(named);
        ASSERT_EQ(ran.status, 0) << ran.err;
        const velmora_test::Png png = velmora_test::read_png(out);
        if (first.empty()) {
          EXPECT_EQ(png.width, 40);
          first = png.bytes;
        }
        EXPECT_TRUE(png.bytes == first) << (piped ? "pipe, " : "file, ") << threads << " threads";
      }
    }
  }
}

}  // namespace
