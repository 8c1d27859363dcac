// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG and WebP OUTPUTs: the image of the PNG of the same run, within the codec's loss; an
// image a pixel beyond the format's side is refused before decoding (exit 1, one line
// naming the limit and the outputs without one, no file), one at the side is written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "tests/scan/run/scan_support.h"
#include "tests/support/clips.h"

namespace {

using clipwriter::ClipSpec;
using clipwriter::Codec;
using velmora_test::run_scan;

// The picture as FFmpeg's decoders read it (one picture).
struct Decoded {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};
Decoded decode(const std::string& path) {
  velmora_test::Pictures pictures = velmora_test::decode_whole(path, false);
  if (pictures.rgb.empty()) return {};
  return {pictures.width, pictures.height, pictures.rgb.front()};
}

TEST(ScanSmallFormats, ThePngsPictureWithinTheCodecsLoss) {
  const std::string folder = velmora_test::fresh_folder("small-formats");
  const std::string clip = velmora_test::cached_clip(
      {.width = 96, .height = 64, .frames = 40, .fps_num = 25, .codec = Codec::rgb});
  for (const char* cut : {"vertical", "horizontal"}) {
    ASSERT_EQ(run_scan({"--cut", cut, "--slit", "5:3", clip, folder + "/ref.png"}).status, 0);
    const velmora_test::Png png = velmora_test::read_png(folder + "/ref.png");
    for (const char* name : {"/out.jpg", "/out.JPEG", "/out.webp"}) {
      SCOPED_TRACE(std::string(cut) + name);
      const std::string out = folder + name;
      velmora_test::Ran ran = run_scan({"--quality", "95", "--cut", cut, "--slit", "5:3", clip, out});
      ASSERT_EQ(ran.status, 0) << ran.err;
      const Decoded d = decode(out);
      ASSERT_EQ(d.width, png.width);
      ASSERT_EQ(d.height, png.height);
      double diff = 0;
      for (size_t i = 0; i < d.rgb.size(); ++i) diff += std::abs(int(d.rgb[i]) - int(png.bytes[i]));
      EXPECT_LT(diff / d.rgb.size(), 3.0);
      std::remove(out.c_str());
    }
    std::remove((folder + "/ref.png").c_str());
  }
}

TEST(ScanSmallFormats, AnImageBeyondTheFormatsSideIsRefusedBeforeDecoding) {
  const std::string folder = velmora_test::fresh_folder("format-limits");
  // Wide slits of few frames make long images quickly.
  const std::string wide = velmora_test::cached_clip(
      {.width = 256, .height = 8, .frames = 263, .fps_num = 25, .codec = Codec::rgb});
  struct Case {
    std::vector<std::string> options;
    const char* output;
    const char* limit;  // empty: written
  };
  const Case cases[] = {
      {{"--slit", "0:250", "--to", "262"}, "a.jpg", ""},                           // 65500
      {{"--slit", "0:250", "--to", "263"}, "b.jpg", "JPEG allows (65500 a side)"},  // 65750
      {{"--slit", "0:127", "--to", "129"}, "c.webp", ""},                           // 16383
      {{"--slit", "0:64", "--to", "256"}, "d.webp", "WebP allows (16383 a side)"},  // 16384
      {{"--cut", "horizontal", "--slit", "0:8", "--to", "258", "--bin", "0.001s"}, "e.webp",
       "WebP allows (16383 a side)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--threads", "2", wide, folder + "/" + c.output});
    const velmora_test::Ran ran = run_scan(args);
    if (*c.limit == '\0') {
      EXPECT_EQ(ran.status, 0) << ran.err;
      const Decoded d = decode(args.back());
      EXPECT_EQ(std::max(d.width, d.height), std::string(c.output).ends_with(".jpg") ? 65500 : 16383);
      std::remove(args.back().c_str());
      continue;
    }
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find(c.limit), std::string::npos) << ran.err;
    EXPECT_NE(ran.err.find(".dzi OUTPUT, or --pyramid"), std::string::npos) << ran.err;
    EXPECT_EQ(velmora_test::names_in(folder), std::vector<std::string>{});
  }
}

}  // namespace
