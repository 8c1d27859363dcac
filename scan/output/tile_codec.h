// SPDX-License-Identifier: GPL-3.0-or-later
// One small picture of packed RGB (8 bits, or 16 bits big-endian) encoded whole in
// memory: a JPEG through libjpeg-turbo, a PNG by ISA-L's deflate, a WebP through libwebp.
// Deep Zoom's tiles, and the JPEG and WebP OUTPUTs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"

namespace scan {

struct TilePixels {
  const uint8_t* pixels = nullptr;
  int64_t width = 0, height = 0;
  int64_t stride = 0;   // bytes from one row to the next
  int pixel_bytes = 3;  // 3, or 6 for 16 bits
};

// A baseline JPEG at `quality` (1 to 100), 4:2:0 as libjpeg's default; 16-bit samples are
// brought to 8 bits (v * 255 / 65535, rounded half up).
[[nodiscard]] base::Result<std::vector<uint8_t>, base::Error> encode_jpeg(const TilePixels& tile,
                                                                        int quality);
// JPEG's and WebP's limits on a side: libjpeg's JPEG_MAX_DIMENSION, short of the format's
// own 65535.
inline constexpr int64_t jpeg_max_side = 65500;
inline constexpr int64_t webp_max_side = 16383;

// A lossy WebP at `quality` (1 to 100); 16-bit samples brought to 8 bits as for JPEG.
[[nodiscard]] base::Result<std::vector<uint8_t>, base::Error> encode_webp(const TilePixels& tile,
                                                                        int quality);
// A PNG at the image's depth, Sub-filtered and deflated at ISA-L's level 1, as the streak
// PNG.
[[nodiscard]] base::Result<std::vector<uint8_t>, base::Error> encode_png(const TilePixels& tile);

}  // namespace scan
