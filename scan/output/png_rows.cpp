// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/output/png_rows.h"

#include <png.h>

#include <csetjmp>

namespace scan {

// libpng reports through a longjmp; its message lands in `error`.
struct PngRows::Impl {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{nullptr, std::fclose};
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::string path;
  std::string error;
  ~Impl() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  }
};

namespace {

void png_failed(png_structp png, png_const_charp message) {
  *static_cast<std::string*>(png_get_error_ptr(png)) = message;
  png_longjmp(png, 1);
}
void png_warned(png_structp, png_const_charp) {}

}  // namespace

PngRows::PngRows() = default;
PngRows::~PngRows() = default;

base::Status PngRows::open(const std::string& path) {
  impl_ = std::make_unique<Impl>();
  Impl& r = *impl_;
  r.path = path;
  r.file.reset(std::fopen(path.c_str(), "rb"));
  if (!r.file) return base::failed(path + ": cannot be read");
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r.error, png_failed, png_warned);
  if (r.png == nullptr) return base::failed(path + ": cannot be read");
  r.info = png_create_info_struct(r.png);
  if (r.info == nullptr) return base::failed(path + ": cannot be read");
  if (setjmp(png_jmpbuf(r.png)) != 0)
    return base::failed(path + ": not a PNG that can be read (" + r.error + ")");
  png_init_io(r.png, r.file.get());
  png_read_info(r.png, r.info);
  if (png_get_interlace_type(r.png, r.info) != PNG_INTERLACE_NONE)
    return base::failed(path + ": an interlaced PNG, whose rows cannot be read one by one");
  const int type = png_get_color_type(r.png, r.info);
  const int depth = png_get_bit_depth(r.png, r.info);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
  if (depth < 8) png_set_expand(r.png);
  if ((type & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(r.png);
  png_set_strip_alpha(r.png);
  png_read_update_info(r.png, r.info);
  size_.width = png_get_image_width(r.png, r.info);
  size_.height = png_get_image_height(r.png, r.info);
  size_.pixel_bytes = png_get_bit_depth(r.png, r.info) == 16 ? 6 : 3;
  if (png_get_rowbytes(r.png, r.info) != static_cast<size_t>(size_.width * size_.pixel_bytes))
    return base::failed(path + ": not a PNG that can be read as RGB");
  return {};
}

base::Status PngRows::read_row(uint8_t* row) {
  Impl& r = *impl_;
  if (setjmp(png_jmpbuf(r.png)) != 0)
    return base::failed(r.path + ": damaged (" + r.error + ")");
  png_read_row(r.png, row, nullptr);
  return {};
}

}  // namespace scan
