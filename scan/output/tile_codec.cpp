// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/output/tile_codec.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <png.h>
#include <webp/encode.h>

namespace scan {
namespace {

// libjpeg's errors jump back out of it, with its words kept.
struct JpegTrap : jpeg_error_mgr {
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX] = {};
};

[[noreturn]] void jpeg_failed(j_common_ptr cinfo) {
  auto* trap = static_cast<JpegTrap*>(cinfo->err);
  cinfo->err->format_message(cinfo, trap->message);
  std::longjmp(trap->jump, 1);
}
void jpeg_quiet(j_common_ptr, int) {}

// Everything between setjmp and a jump out of libjpeg: nothing here has a destructor.
bool compress_rows(jpeg_compress_struct& cinfo, JpegTrap& trap, const uint8_t* rows,
                   int64_t stride, unsigned char** out, unsigned long* size, int width,
                   int height, int quality) {
  if (setjmp(trap.jump)) return false;
  jpeg_mem_dest(&cinfo, out, size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rows + static_cast<int64_t>(cinfo.next_scanline) * stride);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  return true;
}

struct PngTrap {
  std::jmp_buf jump;
  char message[256] = {};
  std::vector<uint8_t>* out = nullptr;
};

[[noreturn]] void png_failed(png_structp png, png_const_charp text) {
  auto* trap = static_cast<PngTrap*>(png_get_error_ptr(png));
  std::snprintf(trap->message, sizeof trap->message, "%s", text);
  std::longjmp(trap->jump, 1);
}
void png_quiet(png_structp, png_const_charp) {}
void png_append(png_structp png, png_bytep data, png_size_t size) {
  auto* trap = static_cast<PngTrap*>(png_get_io_ptr(png));
  trap->out->insert(trap->out->end(), data, data + size);
}
void png_no_flush(png_structp) {}

// Between setjmp and a jump out of libpng: nothing here has a destructor.
bool write_png_rows(png_structp png, png_infop info, PngTrap& trap, const TilePixels& tile) {
  if (setjmp(trap.jump)) return false;
  png_set_write_fn(png, &trap, png_append, png_no_flush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(tile.width),
               static_cast<png_uint_32>(tile.height), tile.pixel_bytes == 6 ? 16 : 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_write_info(png, info);
  // 16-bit samples are big-endian already, as PNG stores them.
  for (int64_t y = 0; y < tile.height; ++y)
    png_write_row(png, const_cast<png_bytep>(tile.pixels + y * tile.stride));
  png_write_end(png, info);
  return true;
}

// `tile` at 8 bits: itself, or its 16-bit samples scaled (v * 255 / 65535, rounded half up)
// into `narrow`.
TilePixels eight_bits(const TilePixels& tile, std::vector<uint8_t>& narrow) {
  if (tile.pixel_bytes != 6) return tile;
  narrow.resize(static_cast<size_t>(tile.width * tile.height * 3));
  for (int64_t y = 0; y < tile.height; ++y)
    for (int64_t i = 0; i < tile.width * 3; ++i) {
      const uint8_t* s = tile.pixels + y * tile.stride + 2 * i;
      const uint32_t v = (uint32_t{s[0]} << 8) | s[1];
      narrow[static_cast<size_t>(y * tile.width * 3 + i)] =
          static_cast<uint8_t>((v * 255 * 2 + 65535) / (2 * 65535));
    }
  return {narrow.data(), tile.width, tile.height, tile.width * 3, 3};
}

}  // namespace

base::Result<std::vector<uint8_t>, std::string> encode_jpeg(const TilePixels& tile, int quality) {
  // JPEG holds 8 bits: 16-bit samples are scaled down first.
  std::vector<uint8_t> narrow;
  const TilePixels eight = eight_bits(tile, narrow);
  const uint8_t* rows = eight.pixels;
  const int64_t stride = eight.stride;
  jpeg_compress_struct cinfo{};
  JpegTrap trap;
  cinfo.err = jpeg_std_error(&trap);
  trap.error_exit = jpeg_failed;
  trap.emit_message = jpeg_quiet;
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  const bool done = compress_rows(cinfo, trap, rows, stride, &out, &size,
                                  static_cast<int>(tile.width), static_cast<int>(tile.height),
                                  quality);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> bytes;
  if (done && out != nullptr) bytes.assign(out, out + size);
  std::free(out);
  if (!done) return base::failure(std::string("cannot encode a JPEG: ") + trap.message);
  return bytes;
}

base::Result<std::vector<uint8_t>, std::string> encode_png(const TilePixels& tile) {
  std::vector<uint8_t> bytes;
  PngTrap trap;
  trap.out = &bytes;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &trap, png_failed, png_quiet);
  if (png == nullptr) return base::failure(std::string("cannot encode a PNG"));
  png_infop info = png_create_info_struct(png);
  const bool done = info != nullptr && write_png_rows(png, info, trap, tile);
  png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  if (!done) return base::failure(std::string("cannot encode a PNG: ") + trap.message);
  return bytes;
}

base::Result<std::vector<uint8_t>, std::string> encode_webp(const TilePixels& tile, int quality) {
  if (tile.width > webp_max_side || tile.height > webp_max_side)
    return base::failure("cannot encode a WebP of " + std::to_string(tile.width) + " x " +
                         std::to_string(tile.height) + " pixels");
  std::vector<uint8_t> narrow;
  const TilePixels eight = eight_bits(tile, narrow);
  uint8_t* out = nullptr;
  const size_t size = WebPEncodeRGB(eight.pixels, static_cast<int>(eight.width),
                                    static_cast<int>(eight.height), static_cast<int>(eight.stride),
                                    static_cast<float>(quality), &out);
  std::vector<uint8_t> bytes;
  if (size > 0 && out != nullptr) bytes.assign(out, out + size);
  WebPFree(out);
  if (bytes.empty()) return base::failure(std::string("cannot encode the WebP"));
  return bytes;
}

}  // namespace scan
