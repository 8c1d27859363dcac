// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/output/tile_codec.h"

#include <array>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include <jpeglib.h>
#include <webp/encode.h>

#include "scan/output/fast_deflate.h"
#include "scan/output/png_frame.h"

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

base::Result<std::vector<uint8_t>, base::Error> encode_jpeg(const TilePixels& tile, int quality) {
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
  if (!done) return base::failed(std::string("cannot encode a JPEG: ") + trap.message);
  return bytes;
}

base::Result<std::vector<uint8_t>, base::Error> encode_png(const TilePixels& tile) {
  if (tile.width < 1 || tile.height < 1 || tile.width > INT32_MAX || tile.height > INT32_MAX)
    return base::failed("cannot encode a PNG of " + std::to_string(tile.width) + " x " +
                        std::to_string(tile.height) + " pixels");
  // One zlib stream in one IDAT, deflated as the streak PNG's pieces are.
  const int64_t row_bytes = 1 + tile.width * tile.pixel_bytes;
  // Kept by the thread, as a level's tiles are mostly of one size: no allocation a tile.
  thread_local std::vector<uint8_t> filtered, zlib;
  filtered.resize(static_cast<size_t>(row_bytes * tile.height));
  png_sub_filter_rows(tile.pixels, tile.height, tile.stride, tile.pixel_bytes, row_bytes,
                      filtered.data());
  zlib.resize(2 + deflate_bound(filtered.size()) + 4);
  zlib[0] = 0x78;  // deflate, 32 KiB window
  zlib[1] = 0x01;  // fastest, no dictionary; 0x7801 is a multiple of 31
  const std::optional<size_t> deflated =
      deflate_piece(filtered.data(), filtered.size(), nullptr, 0, true, zlib.data() + 2);
  if (!deflated) return base::failed("cannot encode a PNG: deflate failed");
  put_be32(zlib.data() + 2 + *deflated, adler32_of(1, filtered.data(), filtered.size()));
  const size_t zlib_bytes = 2 + *deflated + 4;

  const std::array<uint8_t, 33> header =
      png_signature_and_header(tile.width, tile.height, tile.pixel_bytes);
  std::vector<uint8_t> bytes;
  bytes.reserve(header.size() + 12 + zlib_bytes + 12);
  bytes.assign(header.begin(), header.end());
  append_png_chunk(bytes, "IDAT", zlib.data(), zlib_bytes);
  append_png_chunk(bytes, "IEND", nullptr, 0);
  return bytes;
}

base::Result<std::vector<uint8_t>, base::Error> encode_webp(const TilePixels& tile, int quality) {
  if (tile.width > webp_max_side || tile.height > webp_max_side)
    return base::failed("cannot encode a WebP of " + std::to_string(tile.width) + " x " +
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
  if (bytes.empty()) return base::failed("cannot encode the WebP");
  return bytes;
}

}  // namespace scan
