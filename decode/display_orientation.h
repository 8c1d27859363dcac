// SPDX-License-Identifier: GPL-3.0-or-later
// How a clip's pictures are turned for showing: the display matrix of its video stream,
// which phones write instead of storing a portrait picture upright, and which players and
// FFmpeg's command-line tool apply. Only quarter turns, with or without a mirror, are
// followed; any other matrix is reported and the pictures are used as stored.
#pragma once
#include <cstdint>


struct AVStream;

namespace decode {

struct Orientation {
  int rotation = 0;     // degrees clockwise: 0, 90, 180 or 270
  bool mirror = false;  // after turning, flipped left to right
  bool upright() const { return rotation == 0 && !mirror; }
  bool swaps_sides() const { return rotation == 90 || rotation == 270; }
  bool operator==(const Orientation&) const = default;
};

struct DisplayMatrix {
  Orientation orientation;
  // The stream has a matrix this code does not follow (an odd angle, a shear, a singular
  // one); `orientation` is then upright and `degrees` its clockwise angle, when it has one.
  bool odd = false;
  double degrees = 0;
};

// The orientation a display matrix (FFmpeg's nine 16.16 / 2.30 numbers) describes.
DisplayMatrix read_display_matrix(const int32_t matrix[9]);
// The orientation of `stream` from its display-matrix side data; upright without one.
DisplayMatrix display_matrix_of(const AVStream* stream);

}  // namespace decode
