// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/slit/line_sampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "strips/pixel_kind.h"

namespace scan {
namespace {

constexpr int frac_bits = 10;
constexpr int64_t one = int64_t{1} << frac_bits;

using Fixed = LineSampler::Fixed;

Fixed fixed(const Point& p, int width, int height) {
  return {std::clamp<int64_t>(std::llround(p.x * one), 0, (width - 1) * one),
          std::clamp<int64_t>(std::llround(p.y * one), 0, (height - 1) * one)};
}

int component(const uint8_t* pixel, int c, bool deep) {
  return deep ? (pixel[2 * c] << 8) | pixel[2 * c + 1] : pixel[c];
}

float float_at(const uint8_t* pixel) {
  float v;
  std::memcpy(&v, pixel, sizeof v);
  return v;
}

// The four pixels around `f` and their weights, in the rows at `bytes` whose pixel (0, 0)
// is pixel (left, top) of the picture.
struct Taps {
  const uint8_t *p00, *p10, *p01, *p11;
  int64_t w00, w10, w01, w11;
};

Taps taps(const uint8_t* bytes, ptrdiff_t stride, int pb, int left, int top, Fixed f) {
  const int64_t fx = f.x & (one - 1), fy = f.y & (one - 1);
  const int x0 = static_cast<int>(f.x >> frac_bits) - left;
  const int y0 = static_cast<int>(f.y >> frac_bits) - top;
  // A neighbour of weight 0 may lie past the picture: it is not read.
  const int x1 = fx ? x0 + 1 : x0, y1 = fy ? y0 + 1 : y0;
  return {bytes + y0 * stride + x0 * pb, bytes + y0 * stride + x1 * pb,
          bytes + y1 * stride + x0 * pb, bytes + y1 * stride + x1 * pb,
          (one - fx) * (one - fy), fx * (one - fy), (one - fx) * fy, fx * fy};
}

void store_float(const Taps& t, float v00, float v10, float v01, float v11, uint8_t* out) {
  const double sum = static_cast<double>(t.w00) * v00 + static_cast<double>(t.w10) * v10 +
                     static_cast<double>(t.w01) * v01 + static_cast<double>(t.w11) * v11;
  const auto v = static_cast<float>(sum / static_cast<double>(one * one));
  std::memcpy(out, &v, sizeof v);
}

int64_t whole_sum(const Taps& t, int64_t v00, int64_t v10, int64_t v01, int64_t v11) {
  const int64_t sum = t.w00 * v00 + t.w10 * v10 + t.w01 * v01 + t.w11 * v11;
  return (sum + (one * one / 2)) >> (2 * frac_bits);
}

// Bilinear at `f` from `view`, whose pixel (0, 0) is pixel (left, top) of the picture.
void interpolate(const RgbView& view, int left, int top, Fixed f, uint8_t* out) {
  const int pb = view.pixel_bytes;
  const Taps t = taps(view.bytes, view.stride, pb, left, top, f);
  if (strips::is_float(pb)) {
    store_float(t, float_at(t.p00), float_at(t.p10), float_at(t.p01), float_at(t.p11), out);
    return;
  }
  const bool deep = strips::component_bytes(pb) == 2;
  for (int c = 0; c < strips::components_of(pb); ++c) {
    const int64_t v = whole_sum(t, component(t.p00, c, deep), component(t.p10, c, deep),
                                component(t.p01, c, deep), component(t.p11, c, deep));
    if (deep) {
      out[2 * c] = static_cast<uint8_t>(v >> 8);
      out[2 * c + 1] = static_cast<uint8_t>(v);
    } else {
      out[c] = static_cast<uint8_t>(v);
    }
  }
}

uint16_t native16(const uint8_t* pixel) {
  uint16_t v;
  std::memcpy(&v, pixel, sizeof v);
  return v;
}

}  // namespace

void LineSampler::plan(int width, int height, const std::vector<Point>& places) {
  if (width == planned_width_ && height == planned_height_ && places.size() == planned_.size() &&
      (places.empty() ||
       std::memcmp(places.data(), planned_.data(), places.size() * sizeof(Point)) == 0))
    return;
  planned_ = places;
  planned_width_ = width, planned_height_ = height;
  fixed_.clear();
  for (const Point& p : places) fixed_.push_back(fixed(p, width, height));
  boxes_.clear();
  // Places in the order given (along a path) go into one box until the pixels they need
  // would cover more than `box_area`: small boxes that follow the path, whatever its slope.
  for (size_t first = 0; first < places.size();) {
    int left = 0, top = 0, right = -1, bottom = -1;  // pixels needed, inclusive
    size_t end = first;
    for (; end < places.size(); ++end) {
      const Fixed f = fixed_[end];
      const int x0 = static_cast<int>(f.x >> frac_bits), y0 = static_cast<int>(f.y >> frac_bits);
      const int x1 = x0 + ((f.x & (one - 1)) != 0), y1 = y0 + ((f.y & (one - 1)) != 0);
      const int l = end == first ? x0 : std::min(left, x0), t = end == first ? y0 : std::min(top, y0);
      const int r = std::max(right, x1), b = std::max(bottom, y1);
      if (end > first && int64_t{r - l + 1} * (b - t + 1) > box_area) break;
      left = l, top = t, right = r, bottom = b;
    }
    const Rect area{left, top, right - left + 1, bottom - top + 1};
    // Boxes alike in size, in alignment to the chroma and in distance from the edges (up to
    // past any margin) are cut alike and share a scaler.
    const BoxKind kind{area.width,       area.height,
                       area.x % 4,       area.y % 4,
                       std::min(area.x, 32), std::min(area.y, 32),
                       std::min(width - area.x - area.width, 32),
                       std::min(height - area.y - area.height, 32)};
    std::unique_ptr<SlitScaler>& scaler = scalers_[kind];
    if (!scaler) scaler = std::make_unique<SlitScaler>(pixel_bytes_);
    boxes_.push_back(Box{area, first, end, scaler.get()});
    first = end;
  }
}

base::Status LineSampler::sample_grey(const AVFrame* frame, uint8_t* out) const {
  const int pb = pixel_bytes_;
  if (fixed_.empty()) return {};
  const AVPixelFormat wanted = pb == 1 ? AV_PIX_FMT_GRAY8 : pb == 2 ? AV_PIX_FMT_GRAY16 : AV_PIX_FMT_GRAYF32;
  if (frame->format != wanted)
    return base::failed("the picture is not grey of the stack's depth");
  const uint8_t* bytes = frame->data[0];
  const ptrdiff_t stride = frame->linesize[0];
  const size_t n = fixed_.size();
  if (pb == 1) {
    for (size_t i = 0; i < n; ++i) {
      const Taps t = taps(bytes, stride, 1, 0, 0, fixed_[i]);
      out[i] = static_cast<uint8_t>(whole_sum(t, *t.p00, *t.p10, *t.p01, *t.p11));
    }
  } else if (pb == 2) {
    for (size_t i = 0; i < n; ++i) {
      const Taps t = taps(bytes, stride, 2, 0, 0, fixed_[i]);
      const int64_t v = whole_sum(t, native16(t.p00), native16(t.p10), native16(t.p01), native16(t.p11));
      out[2 * i] = static_cast<uint8_t>(v >> 8);
      out[2 * i + 1] = static_cast<uint8_t>(v);
    }
  } else {
    for (size_t i = 0; i < n; ++i) {
      const Taps t = taps(bytes, stride, 4, 0, 0, fixed_[i]);
      store_float(t, float_at(t.p00), float_at(t.p10), float_at(t.p01), float_at(t.p11), out + 4 * i);
    }
  }
  return {};
}

base::Status LineSampler::sample(const AVFrame* frame, int width, int height,
                                 const std::vector<Point>& places, uint8_t* out) {
  const int pb = pixel_bytes_;
  plan(width, height, places);
  if (frame->width != width || frame->height != height) {
    const Converted view = whole_.convert_scaled(frame, width, height, Rect{0, 0, width, height});
    if (!view) return base::failure(view.error());
    for (size_t i = 0; i < places.size(); ++i) interpolate(*view, 0, 0, fixed_[i], out + i * pb);
    return {};
  }
  if (strips::is_grey(pb)) return sample_grey(frame, out);
  for (const Box& box : boxes_) {
    const Converted view = box.scaler->convert(frame, box.area);
    if (!view) return base::failure(view.error());
    for (size_t k = box.first; k < box.end; ++k)
      interpolate(*view, box.area.x, box.area.y, fixed_[k], out + k * pb);
  }
  return {};
}

}  // namespace scan
