// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/slit/line_sampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

// Bilinear at `f` from `view`, whose pixel (0, 0) is pixel (left, top) of the picture.
void interpolate(const RgbView& view, int left, int top, Fixed f, uint8_t* out) {
  const int64_t fx = f.x & (one - 1), fy = f.y & (one - 1);
  const int x0 = static_cast<int>(f.x >> frac_bits) - left;
  const int y0 = static_cast<int>(f.y >> frac_bits) - top;
  // A neighbour of weight 0 may lie past the picture: it is not read.
  const int x1 = fx ? x0 + 1 : x0, y1 = fy ? y0 + 1 : y0;
  const int pb = view.pixel_bytes;
  const uint8_t* p00 = view.bytes + y0 * view.stride + x0 * pb;
  const uint8_t* p10 = view.bytes + y0 * view.stride + x1 * pb;
  const uint8_t* p01 = view.bytes + y1 * view.stride + x0 * pb;
  const uint8_t* p11 = view.bytes + y1 * view.stride + x1 * pb;
  const int64_t w00 = (one - fx) * (one - fy), w10 = fx * (one - fy), w01 = (one - fx) * fy,
                w11 = fx * fy;
  if (strips::is_float(pb)) {
    const double sum = static_cast<double>(w00) * float_at(p00) +
                       static_cast<double>(w10) * float_at(p10) +
                       static_cast<double>(w01) * float_at(p01) +
                       static_cast<double>(w11) * float_at(p11);
    const auto v = static_cast<float>(sum / static_cast<double>(one * one));
    std::memcpy(out, &v, sizeof v);
    return;
  }
  const bool deep = strips::component_bytes(pb) == 2;
  for (int c = 0; c < strips::components_of(pb); ++c) {
    const int64_t sum = w00 * component(p00, c, deep) + w10 * component(p10, c, deep) +
                        w01 * component(p01, c, deep) + w11 * component(p11, c, deep);
    const int64_t v = (sum + (one * one / 2)) >> (2 * frac_bits);
    if (deep) {
      out[2 * c] = static_cast<uint8_t>(v >> 8);
      out[2 * c + 1] = static_cast<uint8_t>(v);
    } else {
      out[c] = static_cast<uint8_t>(v);
    }
  }
}

}  // namespace

base::Status LineSampler::sample(const AVFrame* frame, int width, int height,
                                 const std::vector<Point>& places, uint8_t* out) {
  const int pb = pixel_bytes_;
  if (frame->width != width || frame->height != height) {
    const Converted view = whole_.convert_scaled(frame, width, height, Rect{0, 0, width, height});
    if (!view) return base::failure(view.error());
    for (size_t i = 0; i < places.size(); ++i)
      interpolate(*view, 0, 0, fixed(places[i], width, height), out + i * pb);
    return {};
  }
  // Places in the order given (along a path) go into one box until the pixels they need
  // would cover more than `box_area`: small boxes that follow the path, whatever its slope.
  for (size_t first = 0; first < places.size();) {
    int left = 0, top = 0, right = -1, bottom = -1;  // pixels needed, inclusive
    size_t end = first;
    for (; end < places.size(); ++end) {
      const Fixed f = fixed(places[end], width, height);
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
    const Converted view = scaler->convert(frame, area);
    if (!view) return base::failure(view.error());
    for (size_t k = first; k < end; ++k)
      interpolate(*view, area.x, area.y, fixed(places[k], width, height), out + k * pb);
    first = end;
  }
  return {};
}

}  // namespace scan
