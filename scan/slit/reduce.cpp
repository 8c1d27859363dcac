// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/slit/reduce.h"

#include <algorithm>
#include <vector>

namespace scan {

std::optional<Reducer> reducer_named(std::string_view name) {
  if (name == "copy") return Reducer::copy;
  if (name == "mean") return Reducer::mean;
  if (name == "max") return Reducer::max;
  if (name == "min") return Reducer::min;
  if (name == "median") return Reducer::median;
  return std::nullopt;
}

void reduce_lines(const uint8_t* pixels, int64_t count, int64_t samples, int pixel_bytes,
                  Reducer reducer, uint8_t* out) {
  const bool deep = pixel_bytes == 6;
  std::vector<int64_t> values(static_cast<size_t>(count));
  for (int64_t at = 0; at < samples * pixel_bytes; at += deep ? 2 : 1) {
    const int64_t sample = at / pixel_bytes, component = at % pixel_bytes;
    for (int64_t j = 0; j < count; ++j) {
      const uint8_t* p = pixels + (sample * count + j) * pixel_bytes + component;
      values[static_cast<size_t>(j)] = deep ? (p[0] << 8) | p[1] : p[0];
    }
    int64_t v = values[0];
    switch (reducer) {
      case Reducer::copy:  // one line is its own reduction
        break;
      case Reducer::mean: {
        int64_t sum = 0;
        for (int64_t x : values) sum += x;
        v = (2 * sum + count) / (2 * count);
        break;
      }
      case Reducer::max:
        v = *std::max_element(values.begin(), values.end());
        break;
      case Reducer::min:
        v = *std::min_element(values.begin(), values.end());
        break;
      case Reducer::median: {
        std::sort(values.begin(), values.end());
        const size_t mid = static_cast<size_t>(count / 2);
        v = count % 2 ? values[mid] : (values[mid - 1] + values[mid] + 1) / 2;
        break;
      }
    }
    if (deep) {
      out[at] = static_cast<uint8_t>(v >> 8);
      out[at + 1] = static_cast<uint8_t>(v);
    } else {
      out[at] = static_cast<uint8_t>(v);
    }
  }
}

}  // namespace scan
