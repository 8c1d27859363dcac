// SPDX-License-Identifier: GPL-3.0-or-later
// A streak image's pixels are named by their size alone, as every stage already carries
// it: 3 and 6 bytes are 8- and 16-bit RGB, 1 and 2 bytes 8- and 16-bit grey (16-bit
// samples big-endian, as PNG stores them), 4 bytes a 32-bit float grey sample in the
// machine's own order.
#pragma once

namespace strips {

inline constexpr int components_of(int pixel_bytes) { return pixel_bytes % 3 == 0 ? 3 : 1; }
inline constexpr int component_bytes(int pixel_bytes) {
  return pixel_bytes / components_of(pixel_bytes);
}
inline constexpr bool is_grey(int pixel_bytes) { return components_of(pixel_bytes) == 1; }
inline constexpr bool is_float(int pixel_bytes) { return pixel_bytes == 4; }

}  // namespace strips
