// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/output/strip_image.h"

#include <sys/mman.h>

#include <cstdio>
#include <fstream>

#include "base/text.h"
#include "scan/output/tiff_output.h"

namespace scan {

ImageSize image_size(strips::Cut cut, int64_t strips, int64_t slit_width, int frame_width,
                     int frame_height, int pixel_bytes) {
  ImageSize size;
  size.pixel_bytes = pixel_bytes;
  if (cut == strips::Cut::vertical) {
    size.width = strips * slit_width;
    size.height = frame_height;
  } else {
    size.width = frame_width;
    size.height = strips * slit_width;
  }
  return size;
}

base::Result<void, base::Error> check_image_size(const ImageSize& size, int64_t available) {
  const std::string what = "the image would be " + std::to_string(size.width) + " x " +
                           std::to_string(size.height) + " pixels";
  const std::string advice = "; use --every or a shorter range";
  if (size.width > png_max_side || size.height > png_max_side)
    return base::failed(what + ", more than PNG allows (" + std::to_string(png_max_side) +
                        " a side)" + advice + ", or a .tif OUTPUT, which allows " +
                        std::to_string(tiff_max_side) + " a side");
  // Sides within PNG's limits cannot overflow 64 bits here.
  const double bytes = static_cast<double>(size.width) * size.height * size.pixel_bytes;
  if (available >= 0 && bytes > static_cast<double>(available))
    return base::failed(what + " (" + base::human_bytes(bytes) + "), more than the " +
                        base::human_bytes(static_cast<double>(available)) + " of memory at hand" +
                        advice + ", or a .tif OUTPUT, which needs no such memory");
  return {};
}

int64_t available_memory() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  int64_t kilobytes = 0;
  std::string unit;
  while (meminfo >> key >> kilobytes >> unit)
    if (key == "MemAvailable:") return kilobytes * 1024;
  return -1;
}

base::Result<void, base::Error> StripImage::allocate(const ImageSize& size,
                                                     const std::string& what) {
  size_ = size;
  // calloc hands large blocks out as fresh zero pages, not written one by one up front.
  bytes_.reset(static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size.bytes()), 1)));
  if (bytes_ == nullptr)
    return base::failed("not enough memory for " + what + " of " +
                        base::human_bytes(static_cast<double>(size.bytes())));
  // In huge pages where the system allows: a strip touches every row of the image, and
  // faulting in tens of megabytes 4 KiB at a time showed in the run's time.
  constexpr uintptr_t huge = uintptr_t{2} << 20;
  const auto start = reinterpret_cast<uintptr_t>(bytes_.get());
  const uintptr_t first = (start + huge - 1) & ~(huge - 1);
  const uintptr_t end = (start + static_cast<uintptr_t>(size.bytes())) & ~(huge - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
  return {};
}

strips::BytePlane StripImage::plane() {
  return {bytes_.get(), stride(), size_.height, stride()};
}

}  // namespace scan
