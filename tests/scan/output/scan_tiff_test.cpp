// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan writing a tiled TIFF: the same pixels as the PNG of the same run, in every
// compression, both cuts and both depths. (A failed or interrupted TIFF write is among
// scan_errors_test's cases.)
#include <gtest/gtest.h>
#include <tiffio.h>

#include "tools/clipwriter/clip_writer.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/written.h"

namespace {

using clipwriter::ClipSpec;
using clipwriter::Codec;
using velmora_test::run_scan;

enum class Kind { eight_bits, ten_bits, turned };

// 300 x 270 pictures: no side a multiple of the 256-pixel tiles, and 40 strips of 7 lines
// make 280, so strips straddle the tiles' edges. A turned clip's strips are laid turned.
std::string clip_of(Kind kind, const std::string& folder) {
  ClipSpec spec{.width = 300, .height = 270, .frames = 40, .fps_num = 25, .codec = Codec::rgb};
  if (kind == Kind::turned) {
    spec.codec = Codec::mpeg4;
    spec.container = "mp4";
    spec.rotation = 90;
    spec.mirror = true;
    const std::string path = folder + "/turned.mp4";
    EXPECT_TRUE(
        velmora_test::written(clipwriter::write_clip(path, spec, clipwriter::test_pattern)));
    return path;
  }
  if (kind == Kind::eight_bits) {
    const std::string path = folder + "/eight.avi";
    EXPECT_TRUE(velmora_test::written(clipwriter::write_avi(path, spec, clipwriter::test_pattern)));
    return path;
  }
  spec.codec = Codec::ffv1;
  spec.container = "matroska";
  spec.ten_bit = true;
  const std::string path = folder + "/ten.mkv";
  auto ramp = [](int frame, int x, int y) -> std::array<uint16_t, 3> {
    return {static_cast<uint16_t>(frame * 1500 + x * 150), static_cast<uint16_t>(y * 230 + x * 37),
            static_cast<uint16_t>(60000 - x * 190)};
  };
  EXPECT_TRUE(velmora_test::written(clipwriter::write_deep_clip(path, spec, ramp)));
  return path;
}

TEST(ScanTiff, EqualsThePngOfTheSameRun) {
  const std::string folder = velmora_test::fresh_folder("tiff-pixels");
  struct Compression {
    const char* name;
    uint16_t code;
  };
  const Compression compressions[] = {{"deflate", COMPRESSION_ADOBE_DEFLATE},
                                      {"zstd", COMPRESSION_ZSTD},
                                      {"lzw", COMPRESSION_LZW},
                                      {"none", COMPRESSION_NONE}};
  for (const Kind kind : {Kind::eight_bits, Kind::ten_bits, Kind::turned}) {
    const bool deep = kind == Kind::ten_bits;
    const std::string clip = clip_of(kind, folder);
    for (const char* cut : {"vertical", "horizontal"}) {
      const std::string what = kind == Kind::turned ? "turned" : deep ? "16" : "8";
      SCOPED_TRACE(what + ", " + cut);
      const std::vector<std::string> options{"--cut", cut, "--slit", "3:7"};
      std::vector<std::string> args = options;
      const std::string name = folder + "/" + what + "-" + cut;
      args.insert(args.end(), {clip, name + ".png"});
      velmora_test::Ran ran = run_scan(args);
      ASSERT_EQ(ran.status, 0) << ran.err;
      const velmora_test::Png png = velmora_test::read_png(args.back());
      ASSERT_EQ(png.bit_depth, deep ? 16 : 8);
      ASSERT_EQ(std::string(cut) == "vertical" ? png.width : png.height, 280);
      for (const Compression& c : compressions) {
        if (!TIFFIsCODECConfigured(c.code)) continue;  // said so in --help
        SCOPED_TRACE(c.name);
        args = options;
        args.insert(args.end(), {"--compress", c.name, clip, name + "-" + c.name + ".tif"});
        ran = run_scan(args);
        ASSERT_EQ(ran.status, 0) << ran.err;
        const velmora_test::Tiff tiff = velmora_test::read_tiff(args.back());
        EXPECT_EQ(tiff.compression, c.code);
        EXPECT_EQ(tiff.predictor, c.code == COMPRESSION_NONE ? 1 : 2);
        EXPECT_EQ(tiff.tile_width, 256u);
        EXPECT_EQ(tiff.tile_height, 256u);
        EXPECT_FALSE(tiff.bigtiff);
        EXPECT_EQ(tiff.image.width, png.width);
        EXPECT_EQ(tiff.image.height, png.height);
        EXPECT_EQ(tiff.image.bit_depth, png.bit_depth);
        EXPECT_EQ(tiff.image.channels, 3);
        EXPECT_TRUE(tiff.image.bytes == png.bytes);
      }
    }
  }
}

}  // namespace
