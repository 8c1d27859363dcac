// SPDX-License-Identifier: GPL-3.0-or-later
// A PNG read one row at a time, as packed RGB of 8 or 16 bits (big-endian) a component,
// the program's own image layout, so that a long image never has to be held whole.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "base/result.h"
#include "scan/output/strip_image.h"

namespace scan {

class PngRows {
 public:
  PngRows();
  ~PngRows();
  PngRows(const PngRows&) = delete;
  PngRows& operator=(const PngRows&) = delete;

  // Opens `path` and reads its header: grey, palette and alpha become RGB; depths below 8
  // become 8. An interlaced PNG is refused (its rows do not come in order).
  base::Status open(const std::string& path);
  // width, height and 3 or 6 bytes a pixel.
  const ImageSize& size() const { return size_; }
  // The next row, size().width * size().pixel_bytes bytes.
  base::Status read_row(uint8_t* row);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  ImageSize size_;
};

}  // namespace scan
