// SPDX-License-Identifier: GPL-3.0-or-later
// The time displacement itself, on frames in their own pixel format. The picture is cut
// into bands (runs of columns or rows whose delays need as much history): each keeps a
// ring of its own pixels of the earlier frames it needs (the current one is read from the
// input), so memory follows the delays, not N whole frames. Chroma samples take the delay of their left (top) luma sample.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "base/result.h"
#include "scan/displace/delays.h"

namespace displace {

class Displacer {
 public:
  // For frames of `width` x `height` in `format`; refused for formats whose pixels are
  // not whole bytes (bit-packed, palette, hardware) and, with a blend, for components
  // stored big-endian.
  [[nodiscard]] static base::Result<Displacer, base::Error> make(DelayField field,
                                                                 AVPixelFormat format,
                                                                 int width, int height);

  // Takes the next input frame (the first is frame 0) and writes the output frame of the
  // same time into `out`, which has the input's format and size. A pixel whose frame is
  // before the first shows the first.
  void push(const AVFrame& in, AVFrame& out);

  // The bytes of history held.
  int64_t history_bytes() const;

 private:
  struct PlaneArea {
    int x0 = 0, x1 = 0, y0 = 0, y1 = 0;  // in the plane's samples
    size_t offset = 0;                    // of its rows in a slot
  };
  struct Band {
    int64_t depth = 0;  // earlier frames held: as many as its delays reach back
    bool even = false;  // one delay for the whole band, no fraction
    std::vector<PlaneArea> planes;
    size_t slot_bytes = 0;
    std::vector<uint8_t> ring;
  };
  struct Plane {
    int shift_x = 0, shift_y = 0;
    int step = 1;       // bytes a pixel
    int unit = 1;       // bytes a component: 1, or 2 (native order)
  };

  void make_bands();
  void lay_out(Band& band, int lx0, int lx1, int ly0, int ly1);
  void copy_in(Band& band, const AVFrame& in, int64_t t);
  void copy_out(const Band& band, const AVFrame& in, AVFrame& out, int64_t t) const;

  DelayField field_;
  int width_ = 0, height_ = 0;
  std::vector<Plane> planes_;
  std::vector<Band> bands_;
  int64_t t_ = 0;
};

}  // namespace displace
