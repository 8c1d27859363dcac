// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/displace/scroller.h"

#include "scan/displace/delays.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/common.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace displace {

base::Result<Scroller, base::Error> Scroller::make(AVPixelFormat format, int width, int height,
                                                   int first, int columns) {
  // A pixel format that cannot be moved is the scroll's to refuse: a wrong request here,
  // where the displacer's own run finds it a failure of the input.
  if (base::Status fits = movable(format, width); !fits)
    return base::failure(base::Error{base::ExitStatus::usage, fits.error().message});
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  if (first < 0 || columns < 1 || first + columns > width)
    return base::usage("--slit " + std::to_string(first) + ":" + std::to_string(columns) +
                       ": does not fit a picture " + std::to_string(width) + " wide");
  Scroller s;
  s.width_ = width;
  s.first_ = first;
  s.columns_ = columns;
  s.depth_ = (width + columns - 1) / columns;
  int steps[4] = {};
  av_image_fill_max_pixsteps(steps, nullptr, desc);
  for (int p = 0; p < av_pix_fmt_count_planes(format); ++p) {
    const bool chroma = p == 1 || p == 2;
    const int sy = chroma ? desc->log2_chroma_h : 0;
    s.planes_.push_back(Plane{chroma ? desc->log2_chroma_w : 0, sy, steps[p], AV_CEIL_RSHIFT(height, sy)});
    s.strips_.emplace_back(size_t(s.depth_) * size_t(columns) * size_t(s.planes_.back().rows) *
                           size_t(steps[p]));
  }
  return s;
}

void Scroller::push(const AVFrame& in, AVFrame& out) {
  const int64_t slot = t_ % depth_;
  for (size_t p = 0; p < planes_.size(); ++p) {
    const Plane& plane = planes_[p];
    const size_t column_bytes = size_t(plane.rows) * size_t(plane.step);
    for (int j = 0; j < columns_; ++j) {
      uint8_t* to = strips_[p].data() + (size_t(slot) * size_t(columns_) + size_t(j)) * column_bytes;
      const int x = (first_ + j) >> plane.shift_x;
      for (int y = 0; y < plane.rows; ++y)
        std::memcpy(to + size_t(y) * size_t(plane.step),
                    in.data[p] + ptrdiff_t(y) * in.linesize[p] + ptrdiff_t(x) * plane.step, size_t(plane.step));
    }
    const int plane_width = AV_CEIL_RSHIFT(width_, plane.shift_x);
    for (int cx = 0; cx < plane_width; ++cx) {
      const int from_right = width_ - 1 - (cx << plane.shift_x);
      const int64_t frame = std::max<int64_t>(t_ - from_right / columns_, 0);
      const int j = columns_ - 1 - from_right % columns_;
      const uint8_t* column =
          strips_[p].data() + (size_t(frame % depth_) * size_t(columns_) + size_t(j)) * column_bytes;
      for (int y = 0; y < plane.rows; ++y)
        std::memcpy(out.data[p] + ptrdiff_t(y) * out.linesize[p] + ptrdiff_t(cx) * plane.step,
                    column + size_t(y) * size_t(plane.step), size_t(plane.step));
    }
  }
  ++t_;
}

}  // namespace displace
