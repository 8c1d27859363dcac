// SPDX-License-Identifier: GPL-3.0-or-later
// Clips whose picture size changes midway (two clips joined): the strips before the change
// are the pictures' own pixels, those after it come from the pictures scaled whole to the
// first picture's size, as a player shows them in one window; every run gives the same
// bytes, whichever frame it starts at.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "scan/slit/slit_scaler.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/written.h"
#include "tools/clipwriter/clip_writer.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

using clipwriter::ClipSpec;
using clipwriter::Codec;

constexpr int W = 64, H = 48, FRAMES = 24, JOIN = 12;

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every picture of `path` converted whole to W x H, as a plain libswscale call does it.
std::vector<std::vector<uint8_t>> shown_pictures(const std::string& path) {
  std::vector<std::vector<uint8_t>> pictures;
  velmora_test::for_each_picture(path, [&](const AVFrame& frame, const AVCodecContext&) {
    pictures.push_back(velmora_test::converted_with(frame, SWS_CS_DEFAULT, false, AV_PIX_FMT_RGB24,
                                                    scan::SlitScaler::flags, W, H));
  });
  return pictures;
}

struct Case {
  const char* name;
  int width, height;  // of the pictures after the join
  std::vector<std::string> args;
  bool vertical;
  int first, lines;  // the slit
  int from, every;
};

TEST(ScanSizeChange, StripsAfterTheChangeComeFromThePicturesScaledToTheFirstSize) {
  const Case cases[] = {
      // The middle column of the first pictures lies outside the smaller ones.
      {"smaller", 32, 24, {}, true, 32, 1, 0, 1},
      // Every chosen frame lies after the change.
      {"smaller, from after", 32, 24, {"--from", "14", "--slit", "40:3"}, true, 40, 3, 14, 1},
      {"larger, rows", 96, 72, {"--cut", "horizontal", "--slit", "30:2", "--every", "2"},
       false, 30, 2, 0, 2},
      {"another shape, across", 32, 40, {"--from", "9", "--slit", "60:4"}, true, 60, 4, 9, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = velmora_test::fresh_folder("size-change");
    const std::string clip = folder + "/joined.ts";
    const ClipSpec spec{.width = W, .height = H, .frames = FRAMES, .fps_num = 25,
                        .codec = Codec::h264, .gop = 5, .container = "mpegts",
                        .join = {.at = JOIN, .width = c.width, .height = c.height}};
    ASSERT_TRUE(
        velmora_test::written(clipwriter::write_clip(clip, spec, clipwriter::test_pattern)));
    const std::vector<std::vector<uint8_t>> pictures = shown_pictures(clip);
    ASSERT_EQ(pictures.size(), static_cast<size_t>(FRAMES));

    std::vector<std::vector<uint8_t>> runs;
    for (const char* name : {"/one.png", "/two.png"}) {
      std::vector<std::string> args = c.args;
      args.push_back(clip);
      args.push_back(folder + name);
      const velmora_test::Ran ran = velmora_test::run_scan(args);
      ASSERT_EQ(ran.status, 0) << ran.err;
      runs.push_back(file_bytes(folder + name));
    }
    EXPECT_EQ(runs[0], runs[1]) << "two runs, two images";

    const velmora_test::Png png = velmora_test::read_png(folder + "/one.png");
    const int strips = (FRAMES - c.from - 1) / c.every + 1;
    ASSERT_EQ(png.width, c.vertical ? strips * c.lines : W);
    ASSERT_EQ(png.height, c.vertical ? H : strips * c.lines);
    for (int k = 0; k < strips; ++k) {
      const std::vector<uint8_t>& picture = pictures[c.from + k * c.every];
      int wrong = 0;
      for (int line = 0; line < c.lines; ++line)
        for (int along = 0; along < (c.vertical ? H : W); ++along) {
          const int x = c.vertical ? c.first + line : along, y = c.vertical ? along : c.first + line;
          const int px = c.vertical ? k * c.lines + line : x, py = c.vertical ? y : k * c.lines + line;
          for (int colour = 0; colour < 3; ++colour)
            wrong += png.sample(px, py, colour) != picture[(static_cast<size_t>(y) * W + x) * 3 + colour];
        }
      EXPECT_EQ(wrong, 0) << "strip " << k << " of frame " << c.from + k * c.every;
    }
  }
}

}  // namespace
