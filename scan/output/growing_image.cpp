// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/output/growing_image.h"

#include <algorithm>
#include <new>

#include "scan/output/png_output.h"

namespace scan {

GrowingImage::GrowingImage(strips::Cut cut, int64_t lines, int64_t across, int pixel_bytes)
    : cut_(cut), lines_(lines), across_(across), pixel_bytes_(pixel_bytes) {}

ImageSize GrowingImage::size() const {
  const int64_t along = strips_ * lines_;
  return cut_ == strips::Cut::vertical ? ImageSize{along, across_, pixel_bytes_}
                                       : ImageSize{across_, along, pixel_bytes_};
}

base::Result<void, base::Error> GrowingImage::add(const StripImage& strip) {
  const int64_t row = strip.stride();
  const int64_t height = strip.size().height;
  try {
    // Doubling keeps the copies few however long the stream runs.
    if (bytes_.capacity() < bytes_.size() + row * height)
      bytes_.reserve(std::max<size_t>(bytes_.capacity() * 2, bytes_.size() + row * height));
    for (int64_t y = 0; y < height; ++y)
      bytes_.insert(bytes_.end(), strip.row(y), strip.row(y) + row);
  } catch (const std::bad_alloc&) {
    return base::failed("not enough memory for " + std::to_string(strips_ + 1) + " strips");
  }
  ++strips_;
  return {};
}

base::Status GrowingImage::write(std::FILE* file, Format format, TiffCompression compression,
                            int threads, const base::ShouldStop& stop) const {
  const ImageSize whole = size();
  const int64_t strip_bytes = lines_ * across_ * pixel_bytes_;
  // One strip as a plane: lines_ pixels wide and across_ high for a vertical cut.
  const auto strip_plane = [&](int64_t k) {
    const bool vertical = cut_ == strips::Cut::vertical;
    const int64_t width = (vertical ? lines_ : across_) * pixel_bytes_;
    return strips::ConstBytePlane{bytes_.data() + k * strip_bytes, width,
                                  vertical ? across_ : lines_, width};
  };
  if (format == Format::tiff) {
    auto bands = TiffBands::open(fileno(file), whole, cut_, compression,
                                 needs_bigtiff(whole, compression));
    if (!bands) return base::failure(bands.error());
    for (int64_t k = 0; k < strips_; ++k)
      if (auto added = (*bands)->add(strip_plane(k)); !added) return base::failure(added.error());
    if (auto done = (*bands)->finish(); !done) return base::failure(done.error());
    return {};
  }
  auto image = this->image();
  if (!image) return base::failure(image.error());
  if (base::Status written = write_png(file, *image, threads, png_chunk_bytes, stop); !written)
    return base::failure(written.error());
  return {};
}

base::Result<StripImage, base::Error> GrowingImage::image() const {
  StripImage image;
  if (auto had = image.allocate(size()); !had) return base::failure(had.error());
  const int64_t strip_bytes = lines_ * across_ * pixel_bytes_;
  const bool vertical = cut_ == strips::Cut::vertical;
  const int64_t width = (vertical ? lines_ : across_) * pixel_bytes_;
  const strips::BytePlane plane = image.plane();
  const strips::ExactStrip place{cut_, pixel_bytes_, 0, lines_};
  for (int64_t k = 0; k < strips_; ++k)
    strips::place_strip(strips::ConstBytePlane{bytes_.data() + k * strip_bytes, width,
                                               vertical ? across_ : lines_, width},
                        plane, place, k);
  return image;
}

}  // namespace scan
