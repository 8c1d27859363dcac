// SPDX-License-Identifier: GPL-3.0-or-later
// The streak image held in memory while strips are laid into it: packed RGB rows, 8 or 16
// bits a component, or grey rows of a grey stack (strips/pixel_kind.h). Only strips are kept, never whole frames.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/result.h"
#include "strips/exact_strips.h"

namespace scan {

// PNG stores each side in 31 bits.
inline constexpr int64_t png_max_side = 2147483647;

struct ImageSize {
  int64_t width = 0;
  int64_t height = 0;
  int pixel_bytes = 3;
  int64_t bytes() const { return width * height * pixel_bytes; }
};

// The image `strips` strips of `slit_width` lines make from frames of frame_width x
// frame_height.
ImageSize image_size(strips::Cut cut, int64_t strips, int64_t slit_width, int frame_width,
                     int frame_height, int pixel_bytes);

// Whether an image of `size` can be made with `available` bytes of memory, or why not.
base::Result<void, base::Error> check_image_size(const ImageSize& size, int64_t available);

// Memory the system can hand out now (MemAvailable), in bytes; -1 when unknown.
int64_t available_memory();

class StripImage {
 public:
  // A black image (every byte zero), so that no byte of it is left unwritten whatever the
  // strips do; when the memory cannot be had, "not enough memory for <what> of <size>".
  [[nodiscard]] base::Result<void, base::Error> allocate(const ImageSize& size,
                                                         const std::string& what = "an image");
  const ImageSize& size() const { return size_; }
  strips::BytePlane plane();
  strips::ConstBytePlane view() const { return {bytes_.get(), stride(), size_.height, stride()}; }
  const uint8_t* row(int64_t y) const { return bytes_.get() + y * stride(); }
  int64_t stride() const { return size_.width * size_.pixel_bytes; }

 private:
  struct Free {
    void operator()(uint8_t* bytes) const { std::free(bytes); }
  };
  ImageSize size_;
  std::unique_ptr<uint8_t[], Free> bytes_;
};

}  // namespace scan
