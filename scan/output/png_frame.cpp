// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/output/png_frame.h"

#include <algorithm>
#include <cstring>

#include "scan/output/fast_deflate.h"
#include "strips/pixel_kind.h"

namespace scan {

void put_be32(uint8_t* to, uint32_t value) {
  to[0] = static_cast<uint8_t>(value >> 24);
  to[1] = static_cast<uint8_t>(value >> 16);
  to[2] = static_cast<uint8_t>(value >> 8);
  to[3] = static_cast<uint8_t>(value);
}

std::array<uint8_t, 33> png_signature_and_header(int64_t width, int64_t height,
                                                 int pixel_bytes) {
  std::array<uint8_t, 33> header = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  uint8_t* ihdr = header.data() + 8;
  put_be32(ihdr, 13);
  std::memcpy(ihdr + 4, "IHDR", 4);
  put_be32(ihdr + 8, static_cast<uint32_t>(width));
  put_be32(ihdr + 12, static_cast<uint32_t>(height));
  ihdr[16] = static_cast<uint8_t>(strips::component_bytes(pixel_bytes) * 8);
  // RGB, or grey; compression, filter method and interlace stay 0
  ihdr[17] = strips::is_grey(pixel_bytes) ? 0 : 2;
  put_be32(ihdr + 21, crc32_of(0, ihdr + 4, 17));
  return header;
}

void png_sub_filter_rows(const uint8_t* src, int64_t rows, int64_t stride, int64_t pixel_bytes,
                         int64_t row_bytes, uint8_t* dst) {
  constexpr uint8_t sub_filter = 1;
  const int64_t packed = row_bytes - 1;
  for (int64_t r = 0; r < rows; ++r, src += stride, dst += row_bytes) {
    dst[0] = sub_filter;
    std::memcpy(dst + 1, src, static_cast<size_t>(std::min(pixel_bytes, packed)));
    for (int64_t i = pixel_bytes; i < packed; ++i)
      dst[1 + i] = static_cast<uint8_t>(src[i] - src[i - pixel_bytes]);
  }
}

void append_png_chunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data,
                      size_t n) {
  const size_t at = out.size();
  out.resize(at + 4 + 4 + n + 4);
  uint8_t* chunk = out.data() + at;
  put_be32(chunk, static_cast<uint32_t>(n));
  std::memcpy(chunk + 4, type, 4);
  if (n > 0) std::memcpy(chunk + 8, data, n);
  put_be32(chunk + 8 + n, crc32_of(0, chunk + 4, 4 + n));
}

}  // namespace scan
