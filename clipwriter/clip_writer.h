// Writes AVI clips whose every pixel is known, for tests and sample clips.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace clipwriter {

enum class Codec {
  rgb,    // uncompressed 24-bit RGB: every pixel arrives exactly
  mjpeg,  // every frame a keyframe
  mpeg4,  // MPEG-4 part 2, with keyframe distance `gop` and up to `b_frames` B-frames
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
};

// Colour 0xRRGGBB of pixel (x, y) in frame `frame`.
using Painter = std::function<uint32_t(int frame, int x, int y)>;

// Writes the clip; returns the empty text, or a readable description of what failed.
std::string write_avi(const std::string& path, const ClipSpec& spec, const Painter& painter);

// A pattern in which every frame differs from every other at every pixel, so a strip
// tells which frame it came from: red carries the frame, green x, blue y.
uint32_t test_pattern(int frame, int x, int y);

}  // namespace clipwriter
