// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes only the part of a JPEG picture a slit needs, with libjpeg-turbo: the columns
// (jpeg_crop_scanline) and rows (jpeg_skip_scanlines, stopping after the last one) around
// an area, with an iMCU of margin each side so that the chroma upsampling at the area's
// edges is that of the whole picture. The area's pixels equal, byte for byte, those of a
// whole-picture libjpeg-turbo decode to RGB with its default settings. MJPEG packets
// without Huffman tables (AVI) get libjpeg-turbo's standard tables.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "decode/ffmpeg_handles.h"
#include "decode/intra_pool.h"
#include "scan/slit/slit_scaler.h"

namespace scan {

// True when the JPEG in `bytes` ends before its end-of-image marker: a file cut short, whose
// picture any decoder can give only as far as its data goes.
bool jpeg_ends_early(const uint8_t* bytes, size_t size);

class JpegArea {
 public:
  // Pictures of width x height; `area` (inside them) is what will be read of each.
  JpegArea(int width, int height, Rect area);
  ~JpegArea();
  JpegArea(const JpegArea&) = delete;
  JpegArea& operator=(const JpegArea&) = delete;

  // Decodes the JPEG in `bytes` into `frame`: packed RGB of the whole picture's size, of
  // which `area` and eight pixels around it (what SlitScaler reads of an RGB picture) are
  // written. False, with `frame` blank, for a picture this cannot take exactly so that the
  // caller's own decoder does: progressive, lossless, 12-bit, CMYK, a field of an
  // interlaced picture, another size than the clip's, or anything libjpeg-turbo warns of
  // (damaged data), whose fate is the other decoder's to decide.
  bool decode(const uint8_t* bytes, size_t size, AVFrame& frame);
  Rect area() const { return area_; }

 private:
  int width_, height_;
  Rect area_;
  AVBufferPool* buffers_ = nullptr;  // pictures' pixels, reused
  int stride_ = 0;
};

// The area a pool's threads are to decode JPEG pictures around: written before any packet
// reaches the pool (`on` last), read by its threads after.
struct JpegWish {
  std::atomic<bool> on{false};
  int width = 0, height = 0;
  Rect area;
};

// Shortcuts for an IntraPool's workers: each decodes its packets with a JpegArea of its
// own, made at its first packet, once `wish` is on; until then it leaves them all to
// FFmpeg's decoder.
decode::ShortcutMaker jpeg_area_shortcuts(std::shared_ptr<const JpegWish> wish);

}  // namespace scan
