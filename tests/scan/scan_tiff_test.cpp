// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan writing a tiled TIFF: the same pixels as the PNG of the same run, in every
// compression, both cuts and both depths, and nothing left behind when the write fails or
// the run is interrupted.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <tiffio.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "tools/clipwriter/clip_writer.h"
#include "scan_support.h"
#include "tests/support/clips.h"

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
    EXPECT_EQ(clipwriter::write_clip(path, spec, clipwriter::test_pattern), "");
    return path;
  }
  if (kind == Kind::eight_bits) {
    const std::string path = folder + "/eight.avi";
    EXPECT_EQ(clipwriter::write_avi(path, spec, clipwriter::test_pattern), "");
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
  EXPECT_EQ(clipwriter::write_deep_clip(path, spec, ramp), "");
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

TEST(ScanTiff, AWriteThatFailsLeavesNothing) {
  const std::string folder = velmora_test::fresh_folder("tiff-file-limit");
  const std::string clip = folder + "/wide.avi";
  ClipSpec spec{.width = 320, .height = 240, .frames = 12, .fps_num = 12, .codec = Codec::rgb};
  ASSERT_EQ(clipwriter::write_avi(clip, spec, clipwriter::test_pattern), "");
  const std::string out = folder + "/out/streak.tif";
  std::filesystem::create_directory(folder + "/out");
  const std::vector<std::string> args{"--compress", "none", "--slit", "0:320", clip, out};
  // 3840 x 240 pixels: 15 tiles of 196608 bytes. Cut off at the first tile, and after the
  // last tile, within the directory written at the end.
  for (rlim_t limit : {rlim_t{200}, rlim_t{15 * 196608 + 8 + 64}}) {
    velmora_test::Ran ran = velmora_test::run_scan_with_file_limit(args, limit);
    EXPECT_EQ(ran.status, 1) << limit;
    EXPECT_EQ(ran.err, "velmora-scan: " + out + ": cannot write (" + std::strerror(EFBIG) + ")\n")
        << limit;
    EXPECT_EQ(velmora_test::names_in(folder + "/out"), std::vector<std::string>{}) << limit;
  }
  velmora_test::Ran ran = velmora_test::run_scan_with_file_limit(args, 4 << 20);
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(velmora_test::read_tiff(out).image.width, 12 * 320);
}

TEST(ScanTiff, InterruptedHalfWayLeavesNothing) {
  const std::string folder = velmora_test::fresh_folder("tiff-interrupted");
  // Long enough to decode for a second or more with one thread; shared through the cache.
  const std::string clip = velmora_test::cached_clip(
      {.width = 320, .height = 240, .frames = 1500, .fps_num = 25, .codec = Codec::mpeg4,
       .gop = 250, .b_frames = 2});
  std::filesystem::create_directory(folder + "/out");
  for (const char* cut : {"vertical", "horizontal"}) {
    SCOPED_TRACE(cut);
    int err_fd = -1;
    const int pid = velmora_test::start_scan(
        {"--threads", "1", "--cut", cut, "--slit", "0:4", clip, folder + "/out/streak.tif"},
        err_fd);
    bool started = false;
    for (int i = 0; i < 2000 && !started; ++i) {
      started = !velmora_test::names_in(folder + "/out").empty();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(started);
    // Once the first band of tiles is in the file (past its header), well before the end:
    // a run takes some 23 bands.
    bool tiles = false;
    for (int i = 0; i < 5000 && !tiles; ++i) {
      std::error_code gone;
      for (const auto& entry : std::filesystem::directory_iterator(folder + "/out", gone))
        tiles = tiles || entry.file_size(gone) > 16;
      if (!tiles) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, SIGINT);
    velmora_test::Ran ran = velmora_test::finish_scan(pid, err_fd);
    EXPECT_EQ(ran.status, 128 + SIGINT);
    EXPECT_EQ(ran.err, "velmora-scan: interrupted; no image written\n");
    EXPECT_EQ(velmora_test::names_in(folder + "/out"), std::vector<std::string>{});
  }
}

}  // namespace
