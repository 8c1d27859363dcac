// SPDX-License-Identifier: GPL-3.0-or-later
// Writes clips whose every pixel is known, for tests, benchmarks and sample clips: AVI,
// and MP4, Matroska or MPEG-TS for the command-line program.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/result.h"

namespace clipwriter {

enum class Codec {
  rgb,    // uncompressed 24-bit RGB: every pixel arrives exactly
  mjpeg,  // every frame a keyframe
  mpeg4,  // MPEG-4 part 2, with keyframe distance `gop` and up to `b_frames` B-frames
  h264,   // H.264 by libx264, keyframe distance `gop`, up to `b_frames` B-frames
  ffv1,   // lossless, a keyframe every `ffv1_gop` frames; 10 bits 4:2:0 with `ten_bit`, else 8
};

// The YUV colour matrix a clip's pixels are encoded with and which the clip says it uses.
enum class Matrix {
  untagged,  // encoded as BT.601, the clip says nothing
  bt601,
  bt709,
  bt2020,
};

struct ClipSpec {
  int width = 320;
  int height = 240;
  int frames = 30;
  int fps_num = 15;
  int fps_den = 1;
  Codec codec = Codec::rgb;
  int gop = 250;
  int b_frames = 0;
  // libavformat's name of the container: "avi", "mp4", "matroska".
  std::string container = "avi";
  bool ten_bit = false;  // FFV1 only
  // FFV1: frames from one keyframe to the next; the frames between carry on with the
  // coder's states the frame before left. 1: every frame a keyframe.
  int ffv1_gop = 1;
  // MP4: the index before the pictures, as for streaming, so a file cut short still opens.
  bool index_first = false;
  // Variable rate: each frame's presentation time in ticks of 1 / ticks_per_second,
  // rising. Empty: frames one 1 / fps apart.
  std::vector<int64_t> ticks = {};
  int ticks_per_second = 0;
  // The display matrix players apply: turned `rotation` degrees clockwise (0 to 359;
  // players follow quarter turns), then mirrored left to right with `mirror`. MP4 and MOV
  // keep it.
  int rotation = 0;
  bool mirror = false;
  // YUV codecs: the colour matrix, and full-range levels (0 .. 255) instead of the usual
  // 16 .. 235, both said in the stream and the container. MJPEG is always full range.
  Matrix matrix = Matrix::untagged;
  bool full_range = false;
  // Two clips put end to end: from frame `at` on (when above 0) the pictures are `width` x
  // `height` and the encoder starts afresh, its headers in the stream. MPEG-TS ("mpegts")
  // with H.264 or MPEG-4 and no B-frames, which keeps the stream's times rising; or FFV1
  // in any container, whose header keeps the first part's size (as FFmpeg's concat
  // demuxer copying two FFV1 files writes them).
  struct Join {
    int at = 0;
    int width = 0;
    int height = 0;
  } join = {};
};

// Colour 0xRRGGBB of pixel (x, y) in frame `frame`.
using Painter = std::function<uint32_t(int frame, int x, int y)>;

// Colour of pixel (x, y) in frame `frame`, 16 bits a component: red, green, blue.
using DeepPainter = std::function<std::array<uint16_t, 3>(int frame, int x, int y)>;

// Writes the clip, or fails with a readable description of what went wrong.
base::Status write_avi(const std::string& path, const ClipSpec& spec, const Painter& painter);
// The same in the container `spec` names.
base::Status write_clip(const std::string& path, const ClipSpec& spec, const Painter& painter);
// A clip painted at 16 bits a component (for 10-bit clips).
base::Status write_deep_clip(const std::string& path, const ClipSpec& spec,
                             const DeepPainter& painter);

// A pattern in which every frame differs from every other at every pixel, so a strip
// tells which frame it came from: red carries the frame, green x, blue y.
uint32_t test_pattern(int frame, int x, int y);

// Bars of saturated colours, where the colour matrices differ most: eight pixels wide,
// one bar further on every frame.
uint32_t colour_bars(int frame, int x, int y);

}  // namespace clipwriter
