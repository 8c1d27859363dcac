// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/slit/reduce.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "strips/pixel_kind.h"

namespace scan {

std::optional<Reducer> reducer_named(std::string_view name) {
  if (name == "copy") return Reducer::copy;
  if (name == "mean") return Reducer::mean;
  if (name == "max") return Reducer::max;
  if (name == "min") return Reducer::min;
  if (name == "median") return Reducer::median;
  return std::nullopt;
}

namespace {

// One sample's lines made one. Whole samples and floats differ only in how a mean and the
// middle of two are rounded: `mean(sum, count)`, `middle(a, b)`.
template <typename T, typename Mean, typename Middle>
T reduced(std::vector<T>& values, Reducer reducer, Mean mean, Middle middle) {
  switch (reducer) {
    case Reducer::copy:  // one line is its own reduction
      break;
    case Reducer::mean: {
      T sum = 0;
      for (T x : values) sum += x;
      return mean(sum, static_cast<int64_t>(values.size()));
    }
    case Reducer::max:
      return *std::max_element(values.begin(), values.end());
    case Reducer::min:
      return *std::min_element(values.begin(), values.end());
    case Reducer::median: {
      std::sort(values.begin(), values.end());
      const size_t mid = values.size() / 2;
      return values.size() % 2 ? values[mid] : middle(values[mid - 1], values[mid]);
    }
  }
  return values[0];
}

void reduce_floats(const uint8_t* pixels, int64_t count, int64_t samples, Reducer reducer,
                   uint8_t* out) {
  std::vector<double> values(static_cast<size_t>(count));
  for (int64_t sample = 0; sample < samples; ++sample) {
    for (int64_t j = 0; j < count; ++j) {
      float f;
      std::memcpy(&f, pixels + (sample * count + j) * 4, 4);
      values[static_cast<size_t>(j)] = f;
    }
    // Floats are measurements: taken in double, not rounded, stored as the nearest float.
    const auto stored = static_cast<float>(reduced(
        values, reducer, [](double sum, int64_t n) { return sum / static_cast<double>(n); },
        [](double a, double b) { return (a + b) / 2; }));
    std::memcpy(out + sample * 4, &stored, 4);
  }
}

}  // namespace

void reduce_lines(const uint8_t* pixels, int64_t count, int64_t samples, int pixel_bytes,
                  Reducer reducer, uint8_t* out) {
  if (strips::is_float(pixel_bytes)) return reduce_floats(pixels, count, samples, reducer, out);
  const bool deep = strips::component_bytes(pixel_bytes) == 2;
  if (reducer == Reducer::max || reducer == Reducer::min) {
    // The largest or smallest of whole samples needs no list of them: one pass.
    const bool max = reducer == Reducer::max;
    for (int64_t at = 0; at < samples * pixel_bytes; at += deep ? 2 : 1) {
      const int64_t sample = at / pixel_bytes, component = at % pixel_bytes;
      const uint8_t* p = pixels + sample * count * pixel_bytes + component;
      int v = deep ? (p[0] << 8) | p[1] : p[0];
      for (int64_t j = 1; j < count; ++j) {
        p += pixel_bytes;
        const int x = deep ? (p[0] << 8) | p[1] : p[0];
        v = max ? std::max(v, x) : std::min(v, x);
      }
      if (deep) {
        out[at] = static_cast<uint8_t>(v >> 8);
        out[at + 1] = static_cast<uint8_t>(v);
      } else {
        out[at] = static_cast<uint8_t>(v);
      }
    }
    return;
  }
  std::vector<int64_t> values(static_cast<size_t>(count));
  for (int64_t at = 0; at < samples * pixel_bytes; at += deep ? 2 : 1) {
    const int64_t sample = at / pixel_bytes, component = at % pixel_bytes;
    for (int64_t j = 0; j < count; ++j) {
      const uint8_t* p = pixels + (sample * count + j) * pixel_bytes + component;
      values[static_cast<size_t>(j)] = deep ? (p[0] << 8) | p[1] : p[0];
    }
    // Means and middles of whole samples round half up.
    const int64_t v = reduced(
        values, reducer, [](int64_t sum, int64_t n) { return (2 * sum + n) / (2 * n); },
        [](int64_t a, int64_t b) { return (a + b + 1) / 2; });
    if (deep) {
      out[at] = static_cast<uint8_t>(v >> 8);
      out[at + 1] = static_cast<uint8_t>(v);
    } else {
      out[at] = static_cast<uint8_t>(v);
    }
  }
}

}  // namespace scan
