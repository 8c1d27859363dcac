// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/display_orientation.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

namespace decode {
namespace {

// FFmpeg's command-line tool takes a matrix within a degree of a quarter turn for that turn.
constexpr double slack_degrees = 1.0;

// The matrix's 2 x 2 part (a b / c d, where p' = a p + c q and q' = b p + d q on pictures
// whose y grows downwards) for `o`, each -1, 0 or 1.
void unit_matrix(Orientation o, int& a, int& b, int& c, int& d) {
  static constexpr int cosines[] = {1, 0, -1, 0}, sines[] = {0, 1, 0, -1};
  const int cosine = cosines[o.rotation / 90], sine = sines[o.rotation / 90];
  a = cosine;
  b = sine;
  c = -sine;
  d = cosine;
  if (o.mirror) {
    a = -a;
    c = -c;
  }
}

// Each of the matrix's two axes, scaled to length 1, points where `o`'s do.
bool matches(const int32_t m[9], Orientation o) {
  int a, b, c, d;
  unit_matrix(o, a, b, c, d);
  const double x_len = std::hypot(double(m[0]), double(m[1]));
  const double y_len = std::hypot(double(m[3]), double(m[4]));
  const double slack = std::sin(slack_degrees * M_PI / 180) * 1.01;
  return std::abs(m[0] / x_len - a) <= slack && std::abs(m[1] / x_len - b) <= slack &&
         std::abs(m[3] / y_len - c) <= slack && std::abs(m[4] / y_len - d) <= slack;
}

}  // namespace

DisplayMatrix read_display_matrix(const int32_t m[9]) {
  DisplayMatrix read;
  // av_display_rotation_get measures the turn counterclockwise; players turn the picture
  // clockwise by the opposite angle.
  const double counterclockwise = av_display_rotation_get(m);
  const double determinant = double(m[0]) * m[4] - double(m[1]) * m[3];
  if (std::isnan(counterclockwise) || determinant == 0) {
    read.odd = true;
    return read;
  }
  read.orientation.mirror = determinant < 0;
  // Its angle is that of the picture's x axis; a mirror after the turn sends that axis the
  // other way, so the turn itself is 180 degrees less the angle.
  double clockwise = read.orientation.mirror ? 180 + counterclockwise : -counterclockwise;
  clockwise -= 360 * std::floor(clockwise / 360);
  const double quarters = std::round(clockwise / 90);
  read.degrees = clockwise;
  read.orientation.rotation = static_cast<int>(quarters) % 4 * 90;
  if (std::abs(clockwise - quarters * 90) > slack_degrees || !matches(m, read.orientation)) {
    read.odd = true;
    read.orientation = {};
  }
  return read;
}

DisplayMatrix display_matrix_of(const AVStream* stream) {
  size_t size = 0;
  const uint8_t* data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (data == nullptr) return {};
  int32_t matrix[9];
  if (size < sizeof matrix) {
    DisplayMatrix read;
    read.odd = true;
    return read;
  }
  std::memcpy(matrix, data, sizeof matrix);
  return read_display_matrix(matrix);
}

}  // namespace decode
