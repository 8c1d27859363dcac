// SPDX-License-Identifier: GPL-3.0-or-later
// How far back in time each pixel of a displaced clip is shown from: a ramp across the
// columns or rows, or a grey map. A delay is a fraction of frames, numer / den, so that
// --blend linear can mix the two frames around it and nearest can round it exactly.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"

namespace displace {

enum class Direction { right, left, down, up };
enum class Blend { nearest, linear };

// What --delay and --delay-map ask for, as typed.
struct DelayRequest {
  bool ramp = false;  // --delay ramp:N[:DIRECTION]
  int64_t frames = 0;  // N
  Direction direction = Direction::right;
  std::string text;  // "--delay ramp:24", for messages
  std::string map;   // --delay-map FILE.png; empty: none
  int64_t map_frames = -1;  // --delay-map-frames N; -1: not given
  Blend blend = Blend::nearest;
};

// Reads "ramp:N[:DIRECTION]" into `request`, or says why it cannot.
base::Status parse_ramp(const std::string& value, DelayRequest& request);

// Each luma pixel's delay, held per column, per row or per pixel as the request varies it.
struct DelayField {
  enum class Kind { columns, rows, pixels } kind = Kind::columns;
  int width = 0, height = 0;  // the frame's, in luma pixels
  // Whole frames back, and the fraction's numerator over `den` towards the frame before;
  // the fraction is 0 everywhere with Blend::nearest.
  std::vector<int32_t> whole;
  std::vector<uint32_t> fraction;
  uint32_t den = 1;

  size_t index(int x, int y) const {
    return kind == Kind::columns ? size_t(x)
           : kind == Kind::rows  ? size_t(y)
                                 : size_t(y) * size_t(width) + size_t(x);
  }
  // Frames of history the entry needs beside the current one.
  int64_t need(size_t i) const { return whole[i] + (fraction[i] != 0 ? 1 : 0); }
};

// d(x) = N * x / (W - 1) for `right` (columns), the other directions the same way.
DelayField ramp_field(const DelayRequest& request, int width, int height);

// A grey map: `samples` of `map_width` x `map_height`, `vmax` their largest possible
// value, scaled to the frame with the nearest pixel; delay N * v / vmax.
DelayField map_field(const std::vector<uint16_t>& samples, int map_width, int map_height,
                     uint32_t vmax, int64_t frames, Blend blend, int width, int height);

// Whether frames in `format` can be moved pixel by pixel as they are stored: each plane's
// pixels whole bytes apart, none packed two to a unit (YUYV); else why not.
[[nodiscard]] base::Status movable(int format, int width);

// Reads the grey PNG of --delay-map (8 or 16 bits; anything else is refused).
struct GreyMap {
  int width = 0, height = 0;
  uint32_t vmax = 255;
  std::vector<uint16_t> samples;
};
[[nodiscard]] base::Result<GreyMap, base::Error> read_grey_png(const std::string& path);

}  // namespace displace
