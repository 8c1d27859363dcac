// SPDX-License-Identifier: GPL-3.0-or-later
// Time-displaced clips checked pixel by pixel: every input frame carries its number in
// every sample, so an FFV1 output read back through the decoder core names the frame each
// output sample came from.
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "decode/av_error.h"
#include "scan/displace/displacer.h"
#include "scan/displace/video_encoder.h"
#include "scan/input/open_input.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/clips.h"

namespace {

scan::InputRequest input_of(const std::string& path) {
  scan::InputRequest request;
  request.input = path;
  return request;
}


using velmora_test::Ran;

// Sample (x, y) of plane p in frame f: each frame differs from every other at every sample.
int numbered(int p, int x, int y, int f, int mask) { return (f * 17 + p * 5 + x * 3 + y * 7) & mask; }

using Painter = std::function<int(int p, int x, int y, int f)>;

// An FFV1 clip of `frames` frames in `format`, 25 a second.
void write_clip(const std::string& path, AVPixelFormat format, int w, int h, int frames,
                const Painter& paint) {
  decode::FramePtr frame = decode::new_frame();
  frame->format = format;
  frame->width = w;
  frame->height = h;
  ASSERT_GE(av_frame_get_buffer(frame.get(), 0), 0);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  displace::EncoderSetting setting;
  setting.output = path;
  setting.codec = "ffv1";
  std::unique_ptr<displace::VideoEncoder> encoder;
  for (int f = 0; f < frames; ++f) {
    for (int p = 0; p < 3; ++p) {
      const int s = p == 0 ? 0 : 1;
      for (int y = 0; y < AV_CEIL_RSHIFT(h, s * desc->log2_chroma_h); ++y)
        for (int x = 0; x < AV_CEIL_RSHIFT(w, s * desc->log2_chroma_w); ++x) {
          uint8_t* at = frame->data[p] + y * frame->linesize[p];
          if (desc->comp[0].depth > 8) reinterpret_cast<uint16_t*>(at)[x] = uint16_t(paint(p, x, y, f));
          else at[x] = uint8_t(paint(p, x, y, f));
        }
    }
    frame->pts = f;
    if (!encoder) {
      auto opened = displace::VideoEncoder::open(setting, *frame);
      ASSERT_TRUE(opened) << opened.error().message;
      encoder = std::move(*opened);
    }
    ASSERT_TRUE(encoder->write(*frame));
  }
  ASSERT_TRUE(encoder->finish());
}

// Every frame of `path` as the decoder core hands it out.
std::vector<decode::FramePtr> read_back(const std::string& path) {
  std::vector<decode::FramePtr> frames;
  decode::set_ffmpeg_log(decode::FfmpegLog::none);
  auto source = scan::open_input(input_of(path), 1, {});
  if (!source) {
    ADD_FAILURE() << source.error().message;
    return frames;
  }
  (*source)->choose(scan::FrameChoice{0, (*source)->frames().count, 1, {}});
  int64_t at = 0;
  while (const AVFrame* picture = (*source)->next(at)) frames.emplace_back(av_frame_clone(picture));
  return frames;
}

// Sample (x, y) of plane p in output frame t, and the luma sample (lx, ly) it sits on.
struct At {
  int p, x, y, lx, ly, t;
};

// The samples of `got` that differ from `want`, the first few, as text.
std::string mismatches(const std::vector<decode::FramePtr>& got, int frames,
                       const std::function<int(const At&)>& want) {
  if (int(got.size()) != frames) return std::to_string(got.size()) + " frames";
  std::string wrong;
  for (int t = 0; t < frames && wrong.size() < 200; ++t) {
    const AVFrame& f = *got[size_t(t)];
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(f.format));
    for (int p = 0; p < 3; ++p) {
      const int sw = p == 0 ? 0 : desc->log2_chroma_w, sh = p == 0 ? 0 : desc->log2_chroma_h;
      for (int y = 0; y < AV_CEIL_RSHIFT(f.height, sh); ++y)
        for (int x = 0; x < AV_CEIL_RSHIFT(f.width, sw); ++x) {
          const uint8_t* row = f.data[p] + y * f.linesize[p];
          const int v = desc->comp[0].depth > 8 ? reinterpret_cast<const uint16_t*>(row)[x] : row[x];
          if (v != want(At{p, x, y, x << sw, y << sh, t}) && wrong.size() < 200)
            wrong += " t" + std::to_string(t) + " p" + std::to_string(p) + " (" + std::to_string(x) +
                     "," + std::to_string(y) + ")=" + std::to_string(v);
        }
    }
  }
  return wrong;
}

// The ramp's delay at luma (x, y): N * place / (count - 1), halves up.
int ramp_delay(const std::string& way, int n, int x, int y, int w, int h) {
  const int count = way == "right" || way == "left" ? w : h;
  const int place = way == "right" ? x : way == "left" ? w - 1 - x : way == "down" ? y : h - 1 - y;
  return int(std::floor(double(n) * place / (count - 1) + 0.5));
}

TEST(ScanVideo, RampsShowEachSampleFromItsOwnFrame) {
  const std::string folder = velmora_test::fresh_folder("video-ramps");
  const int frames = 12;
  struct Case {
    AVPixelFormat format;
    int w, h, n;
    const char* way;
    int threads;
  } cases[] = {
      {AV_PIX_FMT_YUV420P, 37, 23, 5, "right", 1},
      {AV_PIX_FMT_YUV422P, 37, 23, 7, "left", 2},
      {AV_PIX_FMT_YUV444P, 20, 17, 4, "down", 3},
      {AV_PIX_FMT_YUV420P10LE, 37, 23, 6, "up", 2},
      {AV_PIX_FMT_YUV420P, 9, 31, 15, "up", 3},  // more delay than frames
  };
  for (const Case& c : cases) {
    const std::string name = std::string(av_get_pix_fmt_name(c.format)) + "-" + c.way;
    SCOPED_TRACE(name);
    const int mask = av_pix_fmt_desc_get(c.format)->comp[0].depth > 8 ? 1023 : 255;
    const std::string in = folder + "/" + name + ".nut", out = folder + "/" + name + ".mkv";
    write_clip(in, c.format, c.w, c.h, frames,
               [&](int p, int x, int y, int f) { return numbered(p, x, y, f, mask); });
    const Ran ran = velmora_test::run_scan({"--threads", std::to_string(c.threads), "--codec", "ffv1",
                                           "--delay", "ramp:" + std::to_string(c.n) + ":" + c.way, in, out});
    ASSERT_EQ(ran.status, 0) << ran.err;
    // A chroma sample's delay is its left (top) luma sample's; before frame 0, frame 0.
    EXPECT_EQ(mismatches(read_back(out), frames,
                         [&](const At& a) {
                           const int d = ramp_delay(c.way, c.n, a.lx, a.ly, c.w, c.h);
                           return numbered(a.p, a.x, a.y, std::max(a.t - d, 0), mask);
                         }),
              "");
  }
}

// Luma 10 * frame across a row of five: at N = 3 the delays are 0, 0.75, 1.5, 2.25, 3.
TEST(ScanVideo, BlendLinearMixesTheTwoFramesAroundTheDelay) {
  const std::string folder = velmora_test::fresh_folder("video-blend");
  const std::string in = folder + "/tens.nut", out = folder + "/out.mkv";
  write_clip(in, AV_PIX_FMT_YUV444P, 5, 2, 8, [](int p, int, int, int f) { return p ? 128 : 10 * f; });
  const Ran ran = velmora_test::run_scan({"--codec", "ffv1", "--delay", "ramp:3", "--blend", "linear", in, out});
  ASSERT_EQ(ran.status, 0) << ran.err;
  const std::vector<decode::FramePtr> got = read_back(out);
  ASSERT_EQ(got.size(), 8u);
  // Worked by hand, e.g. t 5, x 1: 0.25 * 50 + 0.75 * 40 = 42.5, up to 43.
  const struct {
    int t;
    std::array<int, 5> luma;
  } rows[] = {{0, {0, 0, 0, 0, 0}}, {1, {10, 3, 0, 0, 0}}, {5, {50, 43, 35, 28, 20}}};
  for (const auto& row : rows) {
    std::array<int, 5> luma{};
    for (int x = 0; x < 5; ++x) luma[size_t(x)] = got[size_t(row.t)]->data[0][got[size_t(row.t)]->linesize[0] + x];
    EXPECT_EQ(luma, row.luma) << "t " << row.t;
  }
}

// A grey PNG, 8 or 16 bits.
void write_grey(const std::string& path, int bits, int w, int h, const std::vector<uint16_t>& v) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(w);
  image.height = png_uint_32(h);
  image.format = bits == 16 ? PNG_FORMAT_LINEAR_Y : PNG_FORMAT_GRAY;
  std::vector<uint8_t> bytes(v.begin(), v.end());
  const void* data = bits == 16 ? static_cast<const void*>(v.data()) : bytes.data();
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, data, 0, nullptr)) << image.message;
}

// A map of two pixels, left and right, stretched over a frame of 7 x 3.
TEST(ScanVideo, ADelayMapIsScaledToTheFrame) {
  const std::string folder = velmora_test::fresh_folder("video-map");
  const std::string in = folder + "/numbered.nut";
  write_clip(in, AV_PIX_FMT_YUV420P, 7, 3, 10, [](int p, int x, int y, int f) { return numbered(p, x, y, f, 255); });
  const struct {
    int bits;
    uint16_t right;
    int n, delay;  // of the right half, by hand: round(n * right / vmax)
  } cases[] = {{8, 255, 4, 4}, {8, 64, 6, 2}, {16, 32768, 4, 2}, {16, 65535, 3, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.right));
    const std::string map = folder + "/map.png", out = folder + "/out.mkv";
    write_grey(map, c.bits, 2, 1, {0, c.right});
    const Ran ran = velmora_test::run_scan({"-f", "--codec", "ffv1", "--delay-map", map,
                                           "--delay-map-frames", std::to_string(c.n), in, out});
    ASSERT_EQ(ran.status, 0) << ran.err;
    // Column 3 of 7 has its centre in the map's right pixel.
    EXPECT_EQ(mismatches(read_back(out), 10, [&](const At& a) {
                return numbered(a.p, a.x, a.y, std::max(a.t - (a.lx >= 3 ? c.delay : 0), 0), 255);
              }),
              "");
  }
}

TEST(ScanVideo, BadInputIsRefusedWithOneLineAndNoFile) {
  const std::string folder = velmora_test::fresh_folder("video-bad");
  const std::string in = folder + "/in.nut", rgb = folder + "/rgb.png";
  write_clip(in, AV_PIX_FMT_YUV420P, 8, 6, 3, [](int, int, int, int f) { return f; });
  {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = image.height = 2;
    image.format = PNG_FORMAT_RGB;
    const std::vector<uint8_t> pixels(12, 200);
    ASSERT_TRUE(png_image_write_to_file(&image, rgb.c_str(), 0, pixels.data(), 0, nullptr));
  }
  const std::string out = folder + "/out.mkv";
  const struct {
    std::vector<std::string> args;
    int status;
    const char* says;
  } cases[] = {
      {{"--delay", "ramp:-2", in, out}, 2, "N must be 0 or more"},
      {{"--delay", "ramp:4:sideways", in, out}, 2, "DIRECTION must be"},
      {{"--delay-map", rgb, "--delay-map-frames", "3", in, out}, 1, "not a grey image"},
      {{"--delay-map", folder + "/none.png", "--delay-map-frames", "3", in, out}, 1, "cannot be read"},
      {{"--delay-map", in, "--delay-map-frames", "3", in, out}, 1, "not a PNG"},
      {{"--slit", "1", "--slit", "2", "--delay", "ramp:2", in, folder + "/out%d.mkv"}, 2, "several"},
      {{"--delay", "ramp:2", "--codec", "nosuchcodec", in, out}, 1, "no such video encoder"},
      {{"--delay", "ramp:2", "--encoder-option", "nosuch=1", in, out}, 1, "not an option"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const Ran ran = velmora_test::run_scan(c.args);
    EXPECT_EQ(ran.status, c.status);
    EXPECT_NE(ran.err.find(c.says), std::string::npos) << ran.err;
    EXPECT_EQ(std::count(ran.err.begin(), ran.err.end(), '\n'), 1) << ran.err;
    EXPECT_EQ(velmora_test::names_in(folder).size(), 2u);  // the clip and the RGB map
  }
}

// Half a stream goes into a pipe that stays open; then the signals, all at once.
TEST(ScanVideo, ASignalEndsTheClipAtItsLastWholeFrameASecondLeavesNothing) {
  const std::string folder = velmora_test::fresh_folder("video-signal");
  const std::string in = folder + "/numbered.nut";
  const int frames = 120;
  write_clip(in, AV_PIX_FMT_YUV420P, 64, 48, frames, [](int p, int x, int y, int f) { return numbered(p, x, y, f, 255); });
  std::ifstream file(in, std::ios::binary);
  const std::string stream((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const struct {
    std::vector<int> signals;
    bool kept;
  } cases[] = {{{SIGINT}, true}, {{SIGINT, SIGTERM}, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signals.size());
    const std::string out = folder + "/out.mkv";
    int feed[2];
    ASSERT_EQ(pipe(feed), 0);
    int err_fd = -1;
    const int pid = velmora_test::start_scan(
        {"--threads", "1", "--format", "nut", "--codec", "ffv1", "--delay", "ramp:9", "-", out}, err_fd, [&] {
          dup2(feed[0], STDIN_FILENO);
          close(feed[1]);
        });
    close(feed[0]);
    ASSERT_EQ(write(feed[1], stream.data(), stream.size() / 2), ssize_t(stream.size() / 2));
    int waiting = 1;
    for (int tries = 0; tries < 1000 && waiting > 0; ++tries) {
      ASSERT_EQ(ioctl(feed[1], FIONREAD, &waiting), 0);
      if (waiting > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(waiting, 0) << "the run did not read the stream";
    // The clip's temporary file appears with its first frame.
    for (int tries = 0; tries < 1000 && velmora_test::names_in(folder).size() < 2; ++tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(pid, SIGSTOP);
    for (int signal : c.signals) kill(pid, signal);
    kill(pid, SIGCONT);
    const Ran ran = velmora_test::finish_scan(pid, err_fd);
    close(feed[1]);
    if (!c.kept) {
      EXPECT_GT(ran.status, 128) << ran.err;
      EXPECT_EQ(velmora_test::names_in(folder).size(), 1u) << ran.err;
      continue;
    }
    ASSERT_EQ(ran.status, 0) << ran.err;
    const std::vector<decode::FramePtr> got = read_back(out);
    // Some frames, each whole and exact; no more than the half that was sent.
    EXPECT_GT(got.size(), 0u);
    EXPECT_LT(got.size(), size_t(frames / 2 + 1));
    EXPECT_EQ(mismatches(got, int(got.size()), [&](const At& a) {
                return numbered(a.p, a.x, a.y, std::max(a.t - ramp_delay("right", 9, a.lx, 0, 64, 48), 0), 255);
              }),
              "");
    std::filesystem::remove(out);
  }
}

// The photo-finish display against velmora-scan's own streak images of the same frames, on
// an RGB clip (its frames stay RGB, so both sides are exact).
TEST(ScanVideo, ScrollShowsTheStreakImageOfTheLastFrames) {
  const std::string folder = velmora_test::fresh_folder("video-scroll");
  const int w = 40, h = 30, frames = 60;
  const std::string in = velmora_test::cached_clip(
      clipwriter::ClipSpec{.width = w, .height = h, .frames = frames, .codec = clipwriter::Codec::rgb});
  const struct {
    int columns, t;
  } cases[] = {{1, 49}, {1, 5}, {2, 30}, {4, 59}, {3, 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.columns) + " columns, frame " + std::to_string(c.t));
    const std::string slit = "17:" + std::to_string(c.columns);
    const std::string out = folder + "/out.mkv", streak = folder + "/streak.png";
    Ran ran = velmora_test::run_scan({"-f", "-q", "--codec", "ffv1", "--scroll", "--slit", slit, in, out});
    ASSERT_EQ(ran.status, 0) << ran.err;
    ran = velmora_test::run_scan({"-f", "--slit", slit, "--to", std::to_string(c.t + 1), in, streak});
    ASSERT_EQ(ran.status, 0) << ran.err;
    const velmora_test::Png image = velmora_test::read_png(streak);
    const std::vector<decode::FramePtr> got = read_back(out);
    ASSERT_EQ(got.size(), size_t(frames));
    const AVFrame& f = *got[size_t(c.t)];
    ASSERT_EQ(f.format, AV_PIX_FMT_BGR0);
    int wrong = 0;
    for (int x = 0; x < w; ++x) {
      // Frame t - age's strip; before the first frame, the first's.
      const int from_right = w - 1 - x, j = c.columns - 1 - from_right % c.columns;
      const int column = std::max(c.t - from_right / c.columns, 0) * c.columns + j;
      for (int y = 0; y < h; ++y)
        for (int k = 0; k < 3; ++k)
          wrong += f.data[0][y * f.linesize[0] + 4 * x + 2 - k] != image.sample(column, y, k);
    }
    EXPECT_EQ(wrong, 0);
  }
}

// Each column (row) keeps only its own delay's frames: a ramp of N holds at most 0.55 of N
// whole frames, a map's row what its largest delay needs.
TEST(ScanVideo, HistoryFollowsTheDelaysNotNWholeFrames) {
  const int w = 192, h = 108, n = 240;
  const double frame_bytes = w * h * 1.5;  // 4:2:0, 8 bits
  auto ramp = [](int64_t frames, displace::Direction direction = displace::Direction::right) {
    displace::DelayRequest request;
    request.ramp = true;
    request.frames = frames;
    request.direction = direction;
    return request;
  };
  // A map whose top half is now and whose bottom half is N frames ago.
  std::vector<uint16_t> half = {0, 255};
  const struct {
    const char* what;
    displace::DelayField field;
    double most;  // in whole frames
  } cases[] = {
      {"right", displace::ramp_field(ramp(n), w, h), 0.55 * n},
      {"down", displace::ramp_field(ramp(n, displace::Direction::down), w, h), 0.55 * n},
      {"short ramp", displace::ramp_field(ramp(4), w, h), 0.55 * 4},
      {"half map", displace::map_field(half, 1, 2, 255, n, displace::Blend::nearest, w, h), 0.5 * n + 0.5},
  };
  for (const auto& c : cases) {
    auto made = displace::Displacer::make(c.field, AV_PIX_FMT_YUV420P, w, h);
    ASSERT_TRUE(made) << made.error().message;
    EXPECT_LE(double(made->history_bytes()), c.most * frame_bytes) << c.what;
  }
}

// FFV1 and Matroska are written bit-exact: one clip at every thread count.
TEST(ScanVideo, OneClipAtEveryThreadCount) {
  const std::string folder = velmora_test::fresh_folder("video-threads");
  const std::string in = folder + "/numbered.nut";
  // Large enough for libx264 to split its work by its thread count.
  write_clip(in, AV_PIX_FMT_YUV420P, 320, 240, 30, [](int p, int x, int y, int f) { return numbered(p, x, y, f, 255); });
  for (const char* codec : {"ffv1", "libx264"}) {
    std::vector<std::string> bytes;
    for (const char* threads : {"1", "2", "3"}) {
      const std::string out = folder + "/out-" + codec + threads + ".mkv";
      const Ran ran = velmora_test::run_scan({"--threads", threads, "--codec", codec, "--delay", "ramp:7:left", in, out});
      ASSERT_EQ(ran.status, 0) << ran.err;
      std::ifstream file(out, std::ios::binary);
      bytes.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    EXPECT_TRUE(bytes[1] == bytes[0] && bytes[2] == bytes[0]) << codec;
  }
}

}  // namespace
