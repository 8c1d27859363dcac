// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/displace/displacer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <unistd.h>

extern "C" {
#include <libavutil/common.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace displace {

base::Result<Displacer, base::Error> Displacer::make(DelayField field, AVPixelFormat format,
                                                     int width, int height) {
  if (base::Status fits = movable(format, width); !fits) return base::failure(fits.error());
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  int depth = 0;
  for (int c = 0; c < desc->nb_components; ++c) depth = std::max(depth, int(desc->comp[c].depth));
  if (field.den > 1 && depth > 8 && (desc->flags & AV_PIX_FMT_FLAG_BE) != 0)
    return base::failed(std::string("--blend linear: the input's pixel format ") + desc->name +
                        " stores its samples big-endian; use --blend nearest");
  Displacer d;
  d.field_ = std::move(field);
  d.width_ = width;
  d.height_ = height;
  int steps[4] = {};
  av_image_fill_max_pixsteps(steps, nullptr, desc);
  const int planes = av_pix_fmt_count_planes(format);
  for (int p = 0; p < planes; ++p) {
    // As av_image_fill_linesizes: planes 1 and 2 are chroma, at its resolution.
    const bool chroma = p == 1 || p == 2;
    d.planes_.push_back(Plane{chroma ? desc->log2_chroma_w : 0, chroma ? desc->log2_chroma_h : 0,
                              steps[p], depth > 8 ? 2 : 1});
  }
  d.make_bands();
  // The history is held whole in memory: one the machine cannot hold is refused up front.
  const double needed = double(d.history_bytes());
  const double memory = double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGESIZE));
  auto too_much = [&] {
    return base::failed("the delays need " + std::to_string(int64_t(needed / 1e6)) +
                        " MB of earlier frames; this machine has " +
                        std::to_string(int64_t(memory / 1e6)) + " MB");
  };
  if (memory > 0 && needed > memory) return too_much();
  try {
    for (Band& band : d.bands_) band.ring.resize(band.slot_bytes * size_t(band.depth));
  } catch (const std::bad_alloc&) {
    return too_much();
  }
  return d;
}

// Neighbouring columns (rows) that need the same history share a band; a delay map's
// rows each need what their largest delay needs.
void Displacer::make_bands() {
  const bool columns = field_.kind == DelayField::Kind::columns;
  const int count = columns ? width_ : height_;
  std::vector<int64_t> need(size_t(count), 0);
  std::vector<bool> even(size_t(count), true);
  for (int i = 0; i < count; ++i) {
    if (field_.kind == DelayField::Kind::pixels) {
      for (int x = 0; x < width_; ++x) {
        const size_t at = field_.index(x, i);
        need[size_t(i)] = std::max(need[size_t(i)], field_.need(at));
        even[size_t(i)] = false;
      }
    } else {
      need[size_t(i)] = field_.need(size_t(i));
      even[size_t(i)] = field_.fraction[size_t(i)] == 0;
    }
  }
  int start = 0;
  for (int i = 1; i <= count; ++i) {
    if (i < count && need[size_t(i)] == need[size_t(start)] && even[size_t(i)] == even[size_t(start)])
      continue;
    Band band;
    band.depth = need[size_t(start)];
    band.even = even[size_t(start)];
    if (columns) lay_out(band, start, i, 0, height_);
    else lay_out(band, 0, width_, start, i);
    bands_.push_back(std::move(band));
    start = i;
  }
}

// The band's samples on each plane: those whose left (top) luma sample lies in it.
void Displacer::lay_out(Band& band, int lx0, int lx1, int ly0, int ly1) {
  size_t offset = 0;
  for (const Plane& plane : planes_) {
    PlaneArea area{-((-lx0) >> plane.shift_x), -((-lx1) >> plane.shift_x),
                   -((-ly0) >> plane.shift_y), -((-ly1) >> plane.shift_y), offset};
    offset += size_t(area.x1 - area.x0) * size_t(plane.step) * size_t(area.y1 - area.y0);
    band.planes.push_back(area);
  }
  band.slot_bytes = offset;
}

void Displacer::copy_in(Band& band, const AVFrame& in, int64_t t) {
  if (band.depth == 0) return;
  uint8_t* slot = band.ring.data() + band.slot_bytes * size_t(t % band.depth);
  for (size_t p = 0; p < planes_.size(); ++p) {
    const PlaneArea& a = band.planes[p];
    const size_t row = size_t(a.x1 - a.x0) * size_t(planes_[p].step);
    if (row == 0) continue;
    for (int y = a.y0; y < a.y1; ++y)
      std::memcpy(slot + a.offset + row * size_t(y - a.y0),
                  in.data[p] + ptrdiff_t(y) * in.linesize[p] + ptrdiff_t(a.x0) * planes_[p].step,
                  row);
  }
}

void Displacer::copy_out(const Band& band, const AVFrame& in, AVFrame& out, int64_t t) const {
  for (size_t p = 0; p < planes_.size(); ++p) {
    const Plane& plane = planes_[p];
    const PlaneArea& a = band.planes[p];
    const size_t row = size_t(a.x1 - a.x0) * size_t(plane.step);
    if (row == 0) continue;
    // Row y of the band's area in the frame `back` frames ago: the input itself for now,
    // else the ring; before the first frame, the first.
    auto row_of = [&](int64_t back, int y) -> const uint8_t* {
      const int64_t frame = std::max<int64_t>(t - back, 0);
      if (frame == t) return in.data[p] + ptrdiff_t(y) * in.linesize[p] + ptrdiff_t(a.x0) * plane.step;
      return band.ring.data() + band.slot_bytes * size_t(frame % band.depth) + a.offset +
             row * size_t(y - a.y0);
    };
    for (int y = a.y0; y < a.y1; ++y) {
      uint8_t* to = out.data[p] + ptrdiff_t(y) * out.linesize[p] + ptrdiff_t(a.x0) * plane.step;
      const int ly = std::min(y << plane.shift_y, height_ - 1);
      if (band.even) {
        const size_t at = field_.index(std::min(a.x0 << plane.shift_x, width_ - 1), ly);
        std::memcpy(to, row_of(field_.whole[at], y), row);
        continue;
      }
      for (int x = a.x0; x < a.x1; ++x) {
        const size_t at = field_.index(std::min(x << plane.shift_x, width_ - 1), ly);
        const int64_t back = field_.whole[at];
        const uint64_t fraction = field_.fraction[at];
        const size_t pixel = size_t(x - a.x0) * size_t(plane.step);
        uint8_t* dst = to + pixel;
        const uint8_t* now = row_of(back, y) + pixel;
        if (fraction == 0) {
          std::memcpy(dst, now, size_t(plane.step));
          continue;
        }
        // The frame `back` ago weighs 1 - fraction / den, the one before it fraction / den;
        // rounded half up.
        const uint8_t* before = row_of(back + 1, y) + pixel;
        const uint64_t den = field_.den;
        for (int u = 0; u < plane.step; u += plane.unit) {
          uint64_t va = 0, vb = 0;
          std::memcpy(&va, now + u, size_t(plane.unit));
          std::memcpy(&vb, before + u, size_t(plane.unit));
          const uint64_t mixed = (2 * (va * (den - fraction) + vb * fraction) + den) / (2 * den);
          std::memcpy(dst + u, &mixed, size_t(plane.unit));
        }
      }
    }
  }
}

void Displacer::push(const AVFrame& in, AVFrame& out) {
  // The current frame is read from the input; the ring then takes it in place of the
  // oldest, which no later frame needs.
  for (const Band& band : bands_) copy_out(band, in, out, t_);
  for (Band& band : bands_) copy_in(band, in, t_);
  ++t_;
}

int64_t Displacer::history_bytes() const {
  int64_t bytes = 0;
  for (const Band& band : bands_) bytes += int64_t(band.slot_bytes) * band.depth;
  return bytes;
}

}  // namespace displace
