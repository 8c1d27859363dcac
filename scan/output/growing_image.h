// SPDX-License-Identifier: GPL-3.0-or-later
// The strips of a run whose length is not known before it ends (a pipe, a URL, a camera),
// or whose image is written again and again while it grows (--flush): only the strips are
// held, one after the other, and the image is made from them when it is written.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/result.h"
#include "base/should_stop.h"
#include "scan/output/output_file.h"
#include "scan/output/strip_image.h"
#include "scan/output/tiff_output.h"

namespace scan {

class GrowingImage {
 public:
  // Strips of `lines` columns (vertical cut) or rows, `across` pixels the other way.
  GrowingImage(strips::Cut cut, int64_t lines, int64_t across, int pixel_bytes);

  // Adds a copy of `strip`, a one-strip image; says so when the memory cannot be had.
  [[nodiscard]] base::Result<void, base::Error> add(const StripImage& strip);
  int64_t strips() const { return strips_; }
  // The size of the image the strips so far make.
  ImageSize size() const;

  // The image the strips so far make, laid out whole; says so when the memory cannot be had.
  [[nodiscard]] base::Result<StripImage, base::Error> image() const;

  // Writes the image so far to `file` (open, empty) as `format`; a message when it fails
  // or `stop` asks it to stop.
  base::Status write(std::FILE* file, Format format, TiffCompression compression, int threads,
                const base::ShouldStop& stop = {}) const;

 private:
  strips::Cut cut_;
  int64_t lines_, across_;
  int pixel_bytes_;
  int64_t strips_ = 0;
  std::vector<uint8_t> bytes_;  // strip after strip, each packed
};

}  // namespace scan
