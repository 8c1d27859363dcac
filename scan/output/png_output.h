// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the streak image as a PNG whose deflate runs on several threads. The rows are
// Sub-filtered and cut into chunks of many rows; each chunk is deflated on its own thread
// (ISA-L's deflate, level 1: see fast_deflate.h), primed with the 32 KiB of filtered data before it so that the file
// stays as small as one stream's, and ended on a byte boundary (a sync flush) so that the
// pieces join into one zlib stream. Rows can be handed over as they are made, so an image
// laid top to bottom never needs to be held whole.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "base/result.h"
#include "base/should_stop.h"
#include "scan/output/strip_image.h"

namespace scan {


// Filtered bytes a chunk holds at least (whole rows): large enough that a chunk's own
// overhead (a flush, a dictionary) stays small, small enough that its buffers stay in the
// core's cache from filtering through deflating to the checksums (1 MiB chunks took a fifth
// more time).
inline constexpr int64_t png_chunk_bytes = int64_t{256} << 10;

class PngWriter {
 public:
  // `threads` deflate at once; `chunk_bytes` as png_chunk_bytes; `stop` is asked between
  // chunks, and a writer asked to stop fails with "interrupted".
  PngWriter(std::FILE* file, const ImageSize& size, int threads,
            int64_t chunk_bytes = png_chunk_bytes, base::ShouldStop stop = {});
  ~PngWriter();
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;

  // Writes the signature and the header.
  base::Status begin();
  // The next `count` rows, `stride` bytes apart. Waits for the oldest chunks once enough
  // are in flight, so memory does not grow with the image.
  base::Status add_rows(const uint8_t* rows, int64_t count, int64_t stride);
  // As add_rows, for rows that stay in place until finish() returns: they are filtered
  // and deflated where they lie, on the workers, never copied.
  base::Status add_held_rows(const uint8_t* rows, int64_t count, int64_t stride);
  // Deflates the rest and writes the end; fails unless every row came.
  base::Status finish();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// Writes `image` to `file` with `threads` deflating, or says why the PNG could not be
// written. Stops (and says so) when `stop` asks it to.
base::Status write_png(std::FILE* file, const StripImage& image, int threads,
                     int64_t chunk_bytes = png_chunk_bytes, const base::ShouldStop& stop = {});

}  // namespace scan
