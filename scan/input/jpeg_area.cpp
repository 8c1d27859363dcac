// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/jpeg_area.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <cstdio>

#include <jpeglib.h>

namespace scan {
namespace {

// SlitScaler's margin around the area for a picture without chroma subsampling.
constexpr int read_margin = 8;

// libjpeg's errors jump back out of it; a warning means damaged data.
struct ErrorTrap : jpeg_error_mgr {
  std::jmp_buf jump;
  bool warned = false;
};

[[noreturn]] void on_error(j_common_ptr cinfo) {
  std::longjmp(static_cast<ErrorTrap*>(cinfo->err)->jump, 1);
}
void on_message(j_common_ptr cinfo, int level) {
  if (level < 0) static_cast<ErrorTrap*>(cinfo->err)->warned = true;
}
void quiet(j_common_ptr) {}

// The lines [first, end) widened by `margin`, kept inside 0 .. limit.
void widen(int first, int size, int margin, int limit, int& start, int& end) {
  start = std::max(0, first - margin);
  end = std::min(limit, first + size + margin);
}

// Everything between setjmp and a jump out of libjpeg: nothing here has a destructor.
bool read_area(jpeg_decompress_struct& cinfo, const ErrorTrap& trap, const uint8_t* bytes,
               size_t size, int width, int height, Rect area, uint8_t* pixels,
               ptrdiff_t stride) {
  jpeg_mem_src(&cinfo, bytes, static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return false;
  // A field of an interlaced picture is half the clip's height: FFmpeg joins the two.
  if (cinfo.progressive_mode || cinfo.data_precision != 8 ||
      cinfo.image_width != static_cast<JDIMENSION>(width) ||
      cinfo.image_height != static_cast<JDIMENSION>(height))
    return false;
  if (cinfo.jpeg_color_space != JCS_GRAYSCALE && cinfo.jpeg_color_space != JCS_YCbCr &&
      cinfo.jpeg_color_space != JCS_RGB)
    return false;
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 3 || trap.warned) return false;
  int left, right, top, bottom;
  widen(area.x, area.width, read_margin, width, left, right);
  widen(area.y, area.height, read_margin, height, top, bottom);
  // One iMCU more on each side: the upsampling of the first and last columns needed then
  // sees the same neighbours as in the whole picture.
  const int block_w = cinfo.max_h_samp_factor * DCTSIZE;
  const int block_h = cinfo.max_v_samp_factor * DCTSIZE;
  int crop_left, crop_right;
  widen(left, right - left, block_w, width, crop_left, crop_right);
  JDIMENSION x = static_cast<JDIMENSION>(crop_left);
  JDIMENSION w = static_cast<JDIMENSION>(crop_right - crop_left);
  if (x != 0 || w != cinfo.output_width) jpeg_crop_scanline(&cinfo, &x, &w);
  const int first_row = std::max(0, top - block_h);
  if (first_row > 0 && jpeg_skip_scanlines(&cinfo, static_cast<JDIMENSION>(first_row)) !=
                           static_cast<JDIMENSION>(first_row))
    return false;
  while (static_cast<int>(cinfo.output_scanline) < bottom) {
    JSAMPROW row = pixels + static_cast<ptrdiff_t>(cinfo.output_scanline) * stride +
                   static_cast<ptrdiff_t>(x) * 3;
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) return false;
  }
  // The rest of the picture is never decoded.
  return !trap.warned;
}

}  // namespace

bool jpeg_ends_early(const uint8_t* b, size_t size) {
  if (size < 2 || b[0] != 0xff || b[1] != 0xd8) return false;
  size_t at = 2;
  while (true) {
    // A marker: 0xff (fill bytes may repeat it), then its code.
    if (at >= size) return true;
    if (b[at] != 0xff) return false;  // not a JPEG's layout: the decoder judges it
    while (at < size && b[at] == 0xff) ++at;
    if (at >= size) return true;
    const uint8_t code = b[at++];
    if (code == 0xd9) return false;                                  // end of image
    if (code == 0x01 || (code >= 0xd0 && code <= 0xd7)) continue;  // no length
    if (size - at < 2) return true;
    const size_t length = size_t{b[at]} << 8 | b[at + 1];
    if (length < 2) return false;
    if (size - at < length) return true;
    at += length;
    if (code != 0xda) continue;
    // Entropy-coded data runs to the next marker other than a stuffed 0xff 0x00 or a restart.
    while (true) {
      const void* found = std::memchr(b + at, 0xff, size - at);
      if (found == nullptr) return true;
      at = static_cast<size_t>(static_cast<const uint8_t*>(found) - b);
      size_t next = at + 1;
      while (next < size && b[next] == 0xff) ++next;
      if (next >= size) return true;
      if (b[next] == 0x00 || (b[next] >= 0xd0 && b[next] <= 0xd7)) {
        at = next + 1;
        continue;
      }
      at = next - 1;
      break;
    }
  }
}

JpegArea::JpegArea(int width, int height, Rect area)
    : width_(width), height_(height), area_(area) {
  // Room for libswscale's SIMD reads past the end of a row.
  stride_ = (width * 3 + 63) / 64 * 64;
  buffers_ = av_buffer_pool_init(static_cast<size_t>(stride_) * height + 64, av_buffer_alloc);
}

JpegArea::~JpegArea() { av_buffer_pool_uninit(&buffers_); }

bool JpegArea::decode(const uint8_t* bytes, size_t size, AVFrame& frame) {
  av_frame_unref(&frame);
  if (buffers_ == nullptr || bytes == nullptr || size == 0) return false;
  AVBufferRef* buffer = av_buffer_pool_get(buffers_);
  if (buffer == nullptr) return false;
  frame.buf[0] = buffer;
  frame.data[0] = buffer->data;
  frame.linesize[0] = stride_;
  frame.format = AV_PIX_FMT_RGB24;
  frame.width = width_;
  frame.height = height_;

  jpeg_decompress_struct cinfo;
  ErrorTrap trap;
  cinfo.err = jpeg_std_error(&trap);
  trap.error_exit = on_error;
  trap.emit_message = on_message;
  trap.output_message = quiet;
  jpeg_create_decompress(&cinfo);
  volatile bool ok = false;
  if (setjmp(trap.jump) == 0)
    ok = read_area(cinfo, trap, bytes, size, width_, height_, area_, frame.data[0], stride_);
  jpeg_destroy_decompress(&cinfo);
  if (!ok) av_frame_unref(&frame);
  return ok;
}

decode::ShortcutMaker jpeg_area_shortcuts(std::shared_ptr<const JpegWish> wish) {
  return [wish] {
    return [wish, area = std::shared_ptr<JpegArea>()](const AVPacket& packet,
                                                       AVFrame& frame) mutable {
      if (!wish->on) return false;
      if (!area) area = std::make_shared<JpegArea>(wish->width, wish->height, wish->area);
      return area->decode(packet.data, static_cast<size_t>(packet.size), frame);
    };
  };
}

}  // namespace scan
