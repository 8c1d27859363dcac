// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/image_orientation.h"

#include "scan/input/exif_reader.h"

extern "C" {
#include <libavutil/display.h>
}

namespace scan {

std::optional<decode::DisplayMatrix> exif_orientation_matrix(int orientation) {
  if (orientation < 1 || orientation > 8) return std::nullopt;
  // EXIF's numbers: 1 upright, 3 half a turn, 6 and 8 quarter turns; 2, 4, 5 and 7 the
  // same mirrored.
  static constexpr double degrees[9] = {0, 0, 0, 180, 180, 90, 90, -90, -90};
  int32_t matrix[9];
  av_display_rotation_set(matrix, degrees[orientation]);
  if (orientation == 2 || orientation == 4 || orientation == 5 || orientation == 7)
    av_display_matrix_flip(matrix, 1, 0);
  return decode::read_display_matrix(matrix);
}

std::optional<decode::DisplayMatrix> image_orientation(std::span<const uint8_t> file) {
  const std::optional<int> orientation = read_exif(file).orientation;
  return orientation ? exif_orientation_matrix(*orientation) : std::nullopt;
}

std::optional<decode::DisplayMatrix> image_orientation(const std::string& path) {
  const std::optional<int> orientation = read_exif_file(path).orientation;
  return orientation ? exif_orientation_matrix(*orientation) : std::nullopt;
}

}  // namespace scan
