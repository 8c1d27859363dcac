// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan on image sequences: a clip's frames written as images give the clip's own
// image whichever way the sequence is named; what goes wrong in one image is named.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "scan/input/image_list.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/clips.h"

namespace {

namespace fs = std::filesystem;
using velmora_test::Ran;

const clipwriter::ClipSpec spec{.width = 32, .height = 24, .frames = 12, .fps_num = 25};

void sh(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

// The clip's frames as images 0001.ext ... with FFmpeg's command-line tool.
std::string frames_as(const std::string& name, const std::string& ext, const std::string& pix) {
  const std::string folder = velmora_test::fresh_folder(name);
  sh("ffmpeg -nostdin -v error -i '" + velmora_test::cached_clip(spec) + "' -pix_fmt " + pix +
     " '" + folder + "/%04d." + ext + "'");
  return folder;
}

Ran scan(std::vector<std::string> args, const std::string& out) {
  args.push_back(out);
  return velmora_test::run_scan(args);
}

velmora_test::Png scanned(const std::vector<std::string>& args) {
  const std::string out = velmora_test::fresh_folder("seq-out") + "/out.png";
  const Ran ran = scan(args, out);
  EXPECT_EQ(ran.status, 0) << ran.err;
  return velmora_test::read_png(out);
}

TEST(ScanSequence, EveryNamingGivesTheClipsImage) {
  const std::string folder = frames_as("seq-png", "png", "rgb24");
  // The same images without leading zeros: img2 must come before img10.
  const std::string natural = velmora_test::fresh_folder("seq-natural");
  for (int k = 1; k <= spec.frames; ++k) {
    char from[16];
    std::snprintf(from, sizeof from, "/%04d.png", k);
    fs::copy_file(folder + from, natural + "/img" + std::to_string(k) + ".PNG");
  }
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{}, {"--cut", "horizontal", "--every", "3"},
        {"--from", "5", "--threads", "1"}}) {
    std::vector<std::string> clip_args = extra;
    clip_args.push_back(velmora_test::cached_clip(spec));
    const velmora_test::Png want = scanned(clip_args);
    for (const std::string& input :
         {folder, folder + "/*.png", folder + "/%04d.png", natural, natural + "/img*"}) {
      std::vector<std::string> args = extra;
      args.push_back(input);
      const velmora_test::Png got = scanned(args);
      EXPECT_EQ(got.width, want.width) << input;
      EXPECT_EQ(got.height, want.height) << input;
      EXPECT_TRUE(got.bytes == want.bytes) << input << " " << testing::PrintToString(extra);
    }
  }
}

TEST(ScanSequence, NaturalOrderComparesNumbersByValue) {
  // Each pair in the order it must sort.
  const std::pair<std::string, std::string> before[] = {
      {"img2.jpg", "img10.jpg"}, {"img9", "img10"},       {"a10b2", "a10b10"},
      {"img2", "img02"},         {"2026-12-07_9", "2026-12-07_10"}, {"a", "b"},
      {"img", "img1"},           {"x007", "x8"},          {"99999999999999999999", "100000000000000000000"},
  };
  for (const auto& [a, b] : before) {
    EXPECT_TRUE(scan::natural_less(a, b)) << a << " < " << b;
    EXPECT_FALSE(scan::natural_less(b, a)) << b << " < " << a;
  }
  EXPECT_FALSE(scan::natural_less("img2", "img2"));
}

// One image of the sequence spoiled in some way: exit status and a word the message holds.
TEST(ScanSequence, ABadImageIsNamed) {
  struct Case {
    const char* what;
    std::function<void(const std::string& image)> spoil;
    int status;
    std::vector<std::string> words;
  } cases[] = {
      {"another size",
       [](const std::string& image) {
         sh("ffmpeg -nostdin -v error -y -f lavfi -i color=c=red:s=16x8:d=0.04 -frames:v 1 '" +
            image + "'");
       },
       1, {"16 x 8", "32 x 24", "0006.png"}},
      {"damaged", [](const std::string& image) { fs::resize_file(image, 100); }, 0,
       {"0006.png", "do not decode"}},
      {"not an image", [](const std::string& image) { std::ofstream(image) << "hello"; }, 0,
       {"0006.png"}},
  };
  for (const Case& c : cases) {
    const std::string folder = frames_as("seq-bad", "png", "rgb24");
    c.spoil(folder + "/0006.png");
    const std::string out = velmora_test::fresh_folder("seq-bad-out") + "/out.png";
    const Ran ran = scan({folder}, out);
    EXPECT_EQ(ran.status, c.status) << c.what << ": " << ran.err;
    for (const std::string& word : c.words)
      EXPECT_NE(ran.err.find(word), std::string::npos) << c.what << ": " << ran.err;
    if (c.status != 0) {
      EXPECT_FALSE(fs::exists(out)) << c.what;
      EXPECT_EQ(velmora_test::names_in(fs::path(out).parent_path().string()).size(), 0u);
      continue;
    }
    // The damaged image's strip repeats the one before it.
    const velmora_test::Png png = velmora_test::read_png(out);
    for (int y = 0; y < png.height; ++y)
      for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(png.sample(5, y, ch), png.sample(4, y, ch)) << c.what;
  }
}

// A JPEG whose EXIF says "turn a quarter clockwise to show" (orientation 6).
std::string turned_jpeg(const std::string& folder) {
  sh("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=40x16 -frames:v 1 '" + folder +
     "/plain.jpg'");
  std::ifstream in(folder + "/plain.jpg", std::ios::binary);
  const std::string jpeg((std::istreambuf_iterator<char>(in)), {});
  // Little-endian TIFF header, one IFD entry: tag 0x0112, SHORT, count 1, value 6.
  const std::string tiff("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 26);
  const std::string app1 = std::string("Exif\0\0", 6) + tiff;
  const std::string segment = std::string("\xff\xe1", 2) + char((app1.size() + 2) >> 8) +
                              char((app1.size() + 2) & 0xff) + app1;
  std::ofstream(folder + "/turned.jpg", std::ios::binary) << jpeg.substr(0, 2) + segment +
                                                                 jpeg.substr(2);
  fs::remove(folder + "/plain.jpg");
  return folder;
}

TEST(ScanSequence, ExifOrientationTurnsThePicture) {
  const std::string folder = turned_jpeg(velmora_test::fresh_folder("seq-exif"));
  struct Case {
    std::vector<std::string> args;
    int width, height;
  } cases[] = {
      {{folder}, 1, 40},                  // shown 16 x 40: a column is 40 high
      {{"--no-rotate", folder}, 1, 16},   // as stored
      {{"--cut", "horizontal", folder}, 16, 1},
  };
  for (const Case& c : cases) {
    const velmora_test::Png png = scanned(c.args);
    EXPECT_EQ(png.width, c.width) << testing::PrintToString(c.args);
    EXPECT_EQ(png.height, c.height) << testing::PrintToString(c.args);
  }
  // Turned a quarter clockwise, the stored row 0 is the shown right column: the shown
  // column 3 of 16 is the stored row 12, read left to right (a quarter the other way would
  // read row 3 right to left).
  const velmora_test::Png shown = scanned({"--slit", "3", folder});
  const velmora_test::Png stored = scanned({"--no-rotate", "--cut", "horizontal", "--slit", "12", folder});
  ASSERT_EQ(shown.height, stored.width);
  int wrong = 0;
  for (int y = 0; y < shown.height; ++y)
    for (int ch = 0; ch < 3; ++ch) wrong += shown.sample(0, y, ch) != stored.sample(y, 0, ch);
  EXPECT_EQ(wrong, 0);
}

// The same pictures at 16 bits (each 8-bit value v as v * 257, as ImageMagick widens them;
// FFmpeg's own conversion goes through YUV) give the 8-bit image's values times 257.
TEST(ScanSequence, SixteenBitImagesGiveASixteenBitImage) {
  const std::string eight_bits = frames_as("seq-eight", "png", "rgb24");
  const velmora_test::Png eight = scanned({eight_bits});
  ASSERT_EQ(eight.bit_depth, 8);
  for (const char* ext : {"png", "tif"}) {
    const std::string folder = velmora_test::fresh_folder(std::string("seq-deep-") + ext);
    for (const auto& entry : fs::directory_iterator(eight_bits))
      sh("convert '" + entry.path().string() + "' -depth 16 " +
         (std::string(ext) == "png" ? "PNG48:" : "") + "'" + folder + "/" +
         entry.path().stem().string() + "." + ext + "'");
    const velmora_test::Png png = scanned({folder});
    EXPECT_EQ(png.bit_depth, 16) << ext;
    ASSERT_EQ(png.width, spec.frames) << ext;
    ASSERT_EQ(png.height, eight.height) << ext;
    int wrong = 0;
    for (int y = 0; y < png.height; ++y)
      for (int x = 0; x < png.width; ++x)
        for (int ch = 0; ch < 3; ++ch) wrong += png.sample(x, y, ch) != eight.sample(x, y, ch) * 257;
    EXPECT_EQ(wrong, 0) << ext;
  }
}

}  // namespace

namespace {

// The JPEG pictures of an MJPEG clip as files: a folder of them is the clip, and gives its
// image whichever decoder both use.
TEST(ScanSequence, JpegImagesGiveTheirMjpegClipsImage) {
  clipwriter::ClipSpec mjpeg = spec;
  mjpeg.width = 96, mjpeg.height = 64, mjpeg.codec = clipwriter::Codec::mjpeg;
  const std::string clip = velmora_test::cached_clip(mjpeg);
  const std::string folder = velmora_test::fresh_folder("seq-jpeg");
  sh("ffmpeg -nostdin -v error -i '" + clip + "' -c:v copy -f image2 '" + folder + "/%04d.jpg'");
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{}, {"--cut", "horizontal", "--slit", "20:3"},
        {"--decoder", "ffmpeg"}, {"--line", "3,2,90,60", "--threads", "1"}}) {
    std::vector<std::string> args = extra;
    args.push_back(clip);
    const velmora_test::Png want = scanned(args);
    args.back() = folder;
    EXPECT_TRUE(scanned(args).bytes == want.bytes) << testing::PrintToString(extra);
  }
}

}  // namespace
