// SPDX-License-Identifier: GPL-3.0-or-later
// What every PNG this program writes shares, the streak image's and the tiles': the
// signature and header, Sub-filtered rows, chunks with their CRC.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace scan {

void put_be32(uint8_t* to, uint32_t value);

// The signature and the IHDR chunk of a `width` x `height` image of `pixel_bytes` a pixel
// (grey or RGB, 8 or 16 bits: strips/pixel_kind.h), not interlaced.
std::array<uint8_t, 33> png_signature_and_header(int64_t width, int64_t height, int pixel_bytes);

// Each row with its filter byte (Sub), every byte less the one a pixel to its left;
// `row_bytes` counts the filter byte.
void png_sub_filter_rows(const uint8_t* src, int64_t rows, int64_t stride, int64_t pixel_bytes,
                         int64_t row_bytes, uint8_t* dst);

// Appends the chunk of `type` (four letters) with its `n` bytes of data to `out`.
void append_png_chunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t n);

}  // namespace scan
