// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan run as a script runs it, on clips whose pictures are known: every strip
// holds the right frame's columns (rows), in AVI, MP4 and Matroska, at constant and
// variable rate, at 8 and 10 bits, in the colours of the clip's matrix, and on the real
// clips of the test data.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "tools/clipwriter/clip_writer.h"
#include "scan/slit/slit_scaler.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/written.h"
#include "tests/scan/run/scan_support.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

namespace fs = std::filesystem;
using clipwriter::ClipSpec;
using clipwriter::Codec;
using velmora_test::Png;
using velmora_test::read_png;
using velmora_test::run_scan;

// A raw RGB clip of the test pattern: red = frame, green = x, blue = y, exactly.
std::string pattern_clip() {
  static std::string path;
  if (path.empty()) {
    path = velmora_test::fresh_folder("pattern") + "/pattern.avi";
    ClipSpec spec{.width = 64, .height = 48, .frames = 40, .fps_num = 10, .codec = Codec::rgb};
    EXPECT_TRUE(velmora_test::written(clipwriter::write_avi(path, spec, clipwriter::test_pattern)));
  }
  return path;
}

// The image made by `args` (OUTPUT is added) from `clip`.
Png scanned(const std::string& clip, std::vector<std::string> args, const std::string& name) {
  const std::string out = velmora_test::fresh_folder(name) + "/out.png";
  args.push_back(clip);
  args.push_back(out);
  velmora_test::Ran ran = run_scan(args);
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(ran.err, "");
  return read_png(out);
}

// Strip k of a vertical cut holds columns first .. first + width - 1 of frame frames[k].
void expect_vertical(const Png& png, const std::vector<int>& frames, int first, int width) {
  ASSERT_EQ(png.width, static_cast<int>(frames.size()) * width);
  ASSERT_EQ(png.height, 48);
  ASSERT_EQ(png.bit_depth, 8);
  for (size_t k = 0; k < frames.size(); ++k)
    for (int x = 0; x < width; ++x)
      for (int y = 0; y < png.height; ++y) {
        const int column = static_cast<int>(k) * width + x;
        ASSERT_EQ(png.sample(column, y, 0), frames[k]) << "strip " << k << " column " << x;
        ASSERT_EQ(png.sample(column, y, 1), first + x) << "strip " << k;
        ASSERT_EQ(png.sample(column, y, 2), y) << "strip " << k;
      }
}

std::vector<int> frames_from(int from, int to, int every) {
  std::vector<int> frames;
  for (int f = from; f < to; f += every) frames.push_back(f);
  return frames;
}

TEST(ScanClips, VerticalStripsHoldTheFramesColumns) {
  const std::string clip = pattern_clip();
  expect_vertical(scanned(clip, {}, "middle"), frames_from(0, 40, 1), 32, 1);
  expect_vertical(scanned(clip, {"--slit", "7:20"}, "wide"), frames_from(0, 40, 1), 7, 20);
  expect_vertical(scanned(clip, {"--slit", "25%", "--every", "3"}, "every"), frames_from(0, 40, 3),
                  16, 1);
  expect_vertical(scanned(clip, {"--from", "5", "--to", "17", "--slit", "63"}, "range"),
                  frames_from(5, 17, 1), 63, 1);
  // 10 frames a second: 0.5 s is frame 5, 2.05 s starts with frame 21.
  expect_vertical(scanned(clip, {"--from", "0.5s", "--to", "2.05s", "--every", "4"}, "seconds"),
                  frames_from(5, 21, 4), 32, 1);
  // A stride past the end gives the first frame alone.
  expect_vertical(scanned(clip, {"--every", "9223372036854775807"}, "huge_every"), {0}, 32, 1);
  // Past the end means the end.
  expect_vertical(scanned(clip, {"--from", "38", "--to", "1000"}, "to_past_end"),
                  frames_from(38, 40, 1), 32, 1);
}

TEST(ScanClips, HorizontalStripsHoldTheFramesRows) {
  const Png png =
      scanned(pattern_clip(), {"--cut", "horizontal", "--slit", "10:3", "--every", "7"}, "rows");
  const std::vector<int> frames = frames_from(0, 40, 7);
  ASSERT_EQ(png.width, 64);
  ASSERT_EQ(png.height, static_cast<int>(frames.size()) * 3);
  for (size_t k = 0; k < frames.size(); ++k)
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 64; ++x) {
        const int row = static_cast<int>(k) * 3 + y;
        ASSERT_EQ(png.sample(x, row, 0), frames[k]);
        ASSERT_EQ(png.sample(x, row, 1), x);
        ASSERT_EQ(png.sample(x, row, 2), 10 + y);
      }
}

// A horizontal cut's rows are written as its strips come: whole frames stacked, over many
// deflated chunks, with one thread and with several.
TEST(ScanClips, HorizontalStripsOfWholeFramesStackTheFrames) {
  const std::string path = std::string(VELMORA_TESTDATA) + "/avi/100_0306.AVI";
  const velmora_test::Pictures pictures = velmora_test::decode_whole(path, false);
  ASSERT_EQ(pictures.rgb.size(), 41u);
  std::vector<uint8_t> stacked;
  for (const std::vector<uint8_t>& picture : pictures.rgb)
    stacked.insert(stacked.end(), picture.begin(), picture.end());
  for (const char* threads : {"1", "3"}) {
    const Png png = scanned(
        path, {"--cut", "horizontal", "--slit", "0:240", "--threads", threads, "--decoder", "ffmpeg"},
        "stacked");
    EXPECT_EQ(png.height, 41 * 240) << threads << " threads";
    EXPECT_TRUE(png.bytes == stacked) << threads << " threads";
  }
}

// Every strip equals the same columns of the reference picture shown at its frame.
void expect_pictures(const Png& png, const velmora_test::Pictures& pictures,
                     const std::vector<int>& shown, int first, int width) {
  ASSERT_EQ(png.width, static_cast<int>(shown.size()) * width);
  ASSERT_EQ(png.height, pictures.height);
  const int pb = pictures.pixel_bytes;
  ASSERT_EQ(png.bit_depth, pb == 6 ? 16 : 8);
  const size_t row = static_cast<size_t>(png.width) * pb;
  for (size_t k = 0; k < shown.size(); ++k) {
    const std::vector<uint8_t>& picture = pictures.rgb.at(shown[k]);
    int wrong = 0;
    for (int y = 0; y < png.height; ++y)
      for (int b = 0; b < width * pb; ++b)
        wrong += png.bytes[row * y + k * width * pb + b] !=
                 picture[(static_cast<size_t>(y) * pictures.width + first) * pb + b];
    EXPECT_EQ(wrong, 0) << "strip " << k << " should be picture " << shown[k];
  }
}

ClipSpec long_gop(Codec codec, int frames, int gop, int b_frames, const char* container) {
  return {.width = 96, .height = 64, .frames = frames, .fps_num = 25, .codec = codec,
          .gop = gop, .b_frames = b_frames, .container = container};
}

struct Coded {
  const char* name;
  ClipSpec spec;
  std::vector<std::string> args;
  int from, first, width, every;
};

TEST(ScanClips, LongGopClipsGiveTheStripsOfTheRightFrames) {
  // With B-frames, pictures no strip needs are skipped; the strips stay exact.
  const Coded clips[] = {
      {"mpeg4.avi", long_gop(Codec::mpeg4, 45, 12, 2, "avi"), {"--threads", "2", "--every", "4"},
       0, 48, 1, 4},
      {"mpeg4.mp4", long_gop(Codec::mpeg4, 45, 12, 2, "mp4"),
       {"--threads", "2", "--every", "4", "--slit", "10:5"}, 0, 10, 5, 4},
      {"h264.mkv", long_gop(Codec::h264, 50, 25, 3, "matroska"),
       {"--threads", "2", "--every", "4", "--from", "3"}, 3, 48, 1, 4},
      {"h264.mp4", long_gop(Codec::h264, 50, 25, 3, "mp4"),
       {"--threads", "1", "--every", "3", "--from", "30"}, 30, 48, 1, 3},
  };
  for (const Coded& c : clips) {
    SCOPED_TRACE(c.name);
    const std::string path = velmora_test::fresh_folder("coded") + "/" + c.name;
    ASSERT_TRUE(
        velmora_test::written(clipwriter::write_clip(path, c.spec, clipwriter::test_pattern)));
    const velmora_test::Pictures pictures = velmora_test::decode_whole(path, false);
    ASSERT_EQ(static_cast<int>(pictures.rgb.size()), c.spec.frames);
    expect_pictures(scanned(path, c.args, "coded-out"), pictures,
                    frames_from(c.from, c.spec.frames, c.every), c.first, c.width);
  }
}

// An MP4 whose index comes first, cut short (a download that stopped): the index lists
// every picture, the file holds the first ones. The strips are those pictures, not the
// last one repeated for every picture the file lost.
TEST(ScanClips, AnMp4CutShortGivesThePicturesItHolds) {
  ClipSpec spec = long_gop(Codec::mjpeg, 40, 1, 0, "mp4");
  spec.index_first = true;
  const std::string folder = velmora_test::fresh_folder("cut-short");
  const std::string whole = folder + "/whole.mp4";
  ASSERT_TRUE(velmora_test::written(clipwriter::write_clip(whole, spec, clipwriter::test_pattern)));
  const velmora_test::Pictures pictures = velmora_test::decode_whole(whole, false);
  ASSERT_EQ(pictures.rgb.size(), 40u);
  const std::string cut = folder + "/cut.mp4";
  fs::copy_file(whole, cut);
  fs::resize_file(cut, fs::file_size(whole) * 6 / 10);
  const Png png = scanned(cut, {"--slit", "20:2", "--decoder", "ffmpeg"}, "cut-short-out");
  // Nearly 60 % of the pictures, each in its own place.
  EXPECT_GE(png.width, 2 * 20);
  EXPECT_LE(png.width, 2 * 24);
  expect_pictures(png, pictures, frames_from(0, png.width / 2, 1), 20, 2);
}

// Names typed in the clip's folder that libavformat would take for URLs (a protocol
// before the first colon) are the files' names all the same, in AVI and in Matroska, which
// is opened again by name to be read through.
TEST(ScanClips, ANameThatLooksLikeAUrlIsTheFile) {
  const std::string folder = velmora_test::fresh_folder("url-like");
  const std::string mkv = folder + "/source.mkv";
  const ClipSpec spec{
      .width = 64, .height = 48, .frames = 40, .codec = Codec::ffv1, .container = "matroska"};
  ASSERT_TRUE(velmora_test::written(clipwriter::write_clip(mkv, spec, clipwriter::test_pattern)));
  const struct {
    std::string name, source;
  } cases[] = {
      {"2024-05-01T12:30:00.avi", pattern_clip()},
      {"12:30 run.mkv", mkv},
      {"pipe:3.avi", pattern_clip()},
      {"file:clip.mkv", mkv},
  };
  for (const auto& c : cases) {
    fs::copy_file(c.source, folder + "/" + c.name);
    int err_fd = -1;
    const int pid = velmora_test::start_scan({c.name, "out.png"}, err_fd,
                                             [&folder] { (void)!chdir(folder.c_str()); });
    const velmora_test::Ran ran = velmora_test::finish_scan(pid, err_fd);
    EXPECT_EQ(ran.status, 0) << c.name << ": " << ran.err;
    if (ran.status == 0) {
      EXPECT_EQ(read_png(folder + "/out.png").width, 40) << c.name;
    }
    fs::remove(folder + "/out.png");
  }
}

TEST(ScanClips, VariableRateClipGivesOneStripPerPicture) {
  // Pictures 40 ms apart, then 100 ms, then 10 ms: no frame rate fits them.
  ClipSpec spec{.width = 64,
                .height = 48,
                .frames = 30,
                .fps_num = 25,
                .codec = Codec::ffv1,
                .container = "matroska",
                .ticks_per_second = 1000};
  int64_t at = 0;
  for (int i = 0; i < spec.frames; ++i) {
    spec.ticks.push_back(at);
    at += i < 10 ? 40 : i < 20 ? 100 : 10;
  }
  const std::string path = velmora_test::fresh_folder("vfr") + "/vfr.mkv";
  ASSERT_TRUE(velmora_test::written(clipwriter::write_clip(path, spec, clipwriter::test_pattern)));
  const velmora_test::Pictures pictures = velmora_test::decode_whole(path, false);
  ASSERT_EQ(pictures.rgb.size(), 30u);
  expect_pictures(scanned(path, {}, "vfr-all"), pictures, frames_from(0, 30, 1), 32, 1);
  // Picture 10 shows at 0.4 s and the next ones 100 ms apart, so picture 16 is the first
  // at or after 1 s; from picture 20 (1.4 s) on they are 10 ms apart: 1.45 s is picture 25.
  expect_pictures(scanned(path, {"--from", "1s", "--to", "1.45s"}, "vfr-time"), pictures,
                  frames_from(16, 25, 1), 32, 1);
  // A clip whose pictures fill the slots of its rate one to one counts those slots.
  spec.ticks.clear();
  spec.ticks_per_second = 0;
  const std::string steady = velmora_test::fresh_folder("cfr") + "/cfr.mkv";
  ASSERT_TRUE(
      velmora_test::written(clipwriter::write_clip(steady, spec, clipwriter::test_pattern)));
  // 25 frames a second: 1 s is frame 25.
  expect_pictures(scanned(steady, {"--from", "1s"}, "cfr-time"),
                  velmora_test::decode_whole(steady, false), frames_from(25, 30, 1), 32, 1);
}

TEST(ScanClips, TenBitClipGivesSixteenBitStrips) {
  ClipSpec spec{.width = 64,
                .height = 48,
                .frames = 6,
                .fps_num = 25,
                .codec = Codec::ffv1,
                .container = "matroska",
                .ten_bit = true};
  // Smooth ramps at 16 bits, so that the 10-bit steps between 8-bit ones show.
  auto ramp = [](int frame, int x, int y) -> std::array<uint16_t, 3> {
    return {static_cast<uint16_t>(frame * 9000 + x * 150), static_cast<uint16_t>(y * 1200 + x * 37),
            static_cast<uint16_t>(60000 - x * 700)};
  };
  const std::string path = velmora_test::fresh_folder("deep") + "/deep.mkv";
  ASSERT_TRUE(velmora_test::written(clipwriter::write_deep_clip(path, spec, ramp)));
  const velmora_test::Pictures pictures = velmora_test::decode_whole(path, true);
  const Png png = scanned(path, {"--slit", "21:2"}, "deep-out");
  ASSERT_EQ(png.bit_depth, 16);
  expect_pictures(png, pictures, frames_from(0, 6, 1), 21, 2);
  // The values are the painted ones to within the 10-bit coding, and use more than 8 bits.
  int finer_than_8_bits = 0;
  for (int k = 0; k < 6; ++k)
    for (int y = 0; y < 48; ++y) {
      std::array<uint16_t, 3> painted = ramp(k, 21, y);
      for (int c = 0; c < 3; ++c) {
        const int value = png.sample(2 * k, y, c);
        EXPECT_NEAR(value, painted[c], 1500) << "strip " << k << " row " << y;
        finer_than_8_bits += (value >> 8) * 257 != value;
      }
    }
  EXPECT_GT(finer_than_8_bits, 500);
}

// The largest difference of a sample between strip k (columns first .. first + width - 1)
// and the same columns of pictures[k], packed RGB24 or big-endian RGB48.
int largest_difference(const Png& png, const std::vector<std::vector<uint8_t>>& pictures,
                       int picture_width, int first, int width) {
  if (png.width != static_cast<int>(pictures.size()) * width) return 1 << 16;
  const int pb = png.bit_depth == 16 ? 6 : 3;
  int largest = 0;
  for (size_t k = 0; k < pictures.size(); ++k)
    for (int y = 0; y < png.height; ++y)
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c) {
          const uint8_t* at =
              &pictures[k][(static_cast<size_t>(y) * picture_width + first + x) * pb + c * pb / 3];
          const int want = pb == 6 ? at[0] << 8 | at[1] : at[0];
          const int got = png.sample(static_cast<int>(k) * width + x, y, c);
          largest = std::max(largest, std::abs(got - want));
        }
  return largest;
}

// YUV clips come out as FFmpeg converts them: with the matrix and levels they say they
// use, BT.601 when they say nothing.
TEST(ScanClips, StripsAreReadWithTheClipsColourMatrix) {
  struct Case {
    const char* name;
    ClipSpec spec;
    int sws_matrix;  // what the reference reads the pictures with
  };
  auto clip = [](Codec codec, const char* container, clipwriter::Matrix matrix, bool full) {
    return ClipSpec{.width = 64, .height = 48, .frames = 4, .fps_num = 25, .codec = codec,
                    .container = container, .ten_bit = codec == Codec::ffv1,
                    .matrix = matrix, .full_range = full};
  };
  const Case cases[] = {
      {"bt709.mp4", clip(Codec::h264, "mp4", clipwriter::Matrix::bt709, false), SWS_CS_ITU709},
      {"bt709-full.avi", clip(Codec::h264, "avi", clipwriter::Matrix::bt709, true),
       SWS_CS_ITU709},
      {"bt2020.mkv", clip(Codec::ffv1, "matroska", clipwriter::Matrix::bt2020, false),
       SWS_CS_BT2020},
      {"untagged.mp4", clip(Codec::h264, "mp4", clipwriter::Matrix::untagged, false),
       SWS_CS_ITU601},
  };
  for (const Case& c : cases) {
    const std::string path = velmora_test::fresh_folder("colour") + "/" + c.name;
    ASSERT_TRUE(
        velmora_test::written(clipwriter::write_clip(path, c.spec, clipwriter::colour_bars)))
        << c.name;
    const bool deep = c.spec.ten_bit;
    std::vector<std::vector<uint8_t>> pictures;
    velmora_test::for_each_picture(path, [&](const AVFrame& frame, const AVCodecContext&) {
      pictures.push_back(velmora_test::converted_with(
          frame, c.sws_matrix, c.spec.full_range, deep ? AV_PIX_FMT_RGB48BE : AV_PIX_FMT_RGB24,
          scan::SlitScaler::flags));
    });
    const Png png = scanned(path, {"--slit", "21:5"}, "colour-out");
    EXPECT_LE(largest_difference(png, pictures, c.spec.width, 21, 5), 1) << c.name;
  }
}

TEST(ScanClips, DilloRepeatsEachPictureUntilTheNext) {
  const std::string dillo = std::string(VELMORA_TESTDATA) + "/avi/dillo.avi";
  const velmora_test::Pictures pictures = velmora_test::decode_whole(dillo, false);
  ASSERT_EQ(pictures.slots, (std::vector<int64_t>{0, 10, 20, 30, 40, 50, 60, 70}));
  std::vector<int> shown;
  for (int slot = 0; slot < 71; ++slot) shown.push_back(slot / 10);
  expect_pictures(scanned(dillo, {"--slit", "30:2"}, "dillo"), pictures, shown, 30, 2);
  // Frames that repeat a picture are served from it, whatever the stride.
  shown.clear();
  for (int slot = 5; slot < 71; slot += 7) shown.push_back(slot / 10);
  expect_pictures(scanned(dillo, {"--from", "5", "--every", "7"}, "dillo-every"), pictures, shown,
                  40, 1);
}

TEST(ScanClips, RealClipsOfTheTestData) {
  struct Real {
    const char* name;
    int frames;
  };
  for (Real r : {Real{"MFC2.AVI", 40}, Real{"filecopy.avi", 17}, Real{"100_0306.AVI", 41}}) {
    SCOPED_TRACE(r.name);
    const std::string path = std::string(VELMORA_TESTDATA) + "/avi/" + r.name;
    const velmora_test::Pictures pictures = velmora_test::decode_whole(path, false);
    ASSERT_EQ(static_cast<int>(pictures.rgb.size()), r.frames);
    // FFmpeg's decoder, whose pictures the reference holds (MJPEG goes to libjpeg-turbo).
    expect_pictures(scanned(path, {"--slit", "5:3", "--decoder", "ffmpeg"}, "real"), pictures,
                    frames_from(0, r.frames, 1), 5, 3);
  }
}

}  // namespace
