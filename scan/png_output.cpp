// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/png_output.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>

#include "scan/interrupt.h"

namespace scan {
namespace {

struct PngWriter {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::string error;
  ~PngWriter() { png_destroy_write_struct(&png, &info); }
};

void on_error(png_structp png, png_const_charp message) {
  auto* writer = static_cast<PngWriter*>(png_get_error_ptr(png));
  writer->error = message;
  std::longjmp(png_jmpbuf(png), 1);
}

void on_warning(png_structp, png_const_charp) {}

// Everything that can longjmp lives here, with no C++ object that needs destroying.
bool write_rows(PngWriter& w, std::FILE* file, const StripImage& image) {
  if (setjmp(png_jmpbuf(w.png))) return false;
  png_init_io(w.png, file);
  // libpng refuses more than a million pixels a side unless told PNG's own limit.
  png_set_user_limits(w.png, static_cast<png_uint_32>(png_max_side),
                      static_cast<png_uint_32>(png_max_side));
  // Fast deflate: the image is written after all decoding, so its time adds to the run.
  png_set_compression_level(w.png, 1);
  png_set_filter(w.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  const ImageSize& size = image.size();
  png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(size.width),
               static_cast<png_uint_32>(size.height), size.pixel_bytes == 6 ? 16 : 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
               PNG_FILTER_TYPE_BASE);
  png_write_info(w.png, w.info);
  // 16-bit rows are already big-endian, as PNG stores them.
  for (int64_t y = 0; y < size.height; ++y) {
    if (interrupt_signal() != 0) {
      w.error = "interrupted";
      return false;
    }
    png_write_row(w.png, image.row(y));
  }
  png_write_end(w.png, nullptr);
  return true;
}

}  // namespace

base::Result<void, std::string> write_png(std::FILE* file, const StripImage& image) {
  PngWriter w;
  w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w, on_error, on_warning);
  if (w.png == nullptr) return base::failure(std::string("cannot set up libpng"));
  w.info = png_create_info_struct(w.png);
  if (w.info == nullptr) return base::failure(std::string("cannot set up libpng"));
  errno = 0;
  if (!write_rows(w, file, image)) {
    // libpng says "Write Error" for a failed fwrite; errno says which.
    if (errno != 0 && w.error == "Write Error")
      return base::failure("cannot write (" + std::string(std::strerror(errno)) + ")");
    return base::failure(w.error.empty() ? std::string("cannot write the PNG") : w.error);
  }
  if (std::ferror(file))
    return base::failure("cannot write (" + std::string(std::strerror(errno)) + ")");
  return {};
}

}  // namespace scan
