// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/time/strip_stats.h"

#include <algorithm>
#include <cmath>

namespace scan {

std::vector<ChannelStats> strip_stats(strips::ConstBytePlane strip, int channels, int sample_bytes) {
  struct Sums {
    uint64_t sum = 0;
    unsigned __int128 squares = 0;  // 16-bit samples of a long strip pass 64 bits
    uint32_t min = UINT32_MAX, max = 0;
  };
  std::vector<Sums> sums(static_cast<size_t>(channels));
  const int pixel_bytes = channels * sample_bytes;
  const int64_t pixels = pixel_bytes > 0 ? strip.width / pixel_bytes : 0;
  for (int64_t y = 0; y < strip.height; ++y) {
    const uint8_t* p = strip.pixels + y * strip.stride;
    for (int64_t x = 0; x < pixels; ++x) {
      for (int c = 0; c < channels; ++c, p += sample_bytes) {
        const uint32_t v = sample_bytes == 2 ? uint32_t{p[0]} << 8 | p[1] : p[0];
        Sums& s = sums[static_cast<size_t>(c)];
        s.sum += v;
        s.squares += uint64_t{v} * v;
        s.min = std::min(s.min, v);
        s.max = std::max(s.max, v);
      }
    }
  }
  const auto n = static_cast<uint64_t>(pixels * strip.height);
  std::vector<ChannelStats> stats(sums.size());
  if (n == 0) return stats;
  for (size_t c = 0; c < sums.size(); ++c) {
    const Sums& s = sums[c];
    // n·Σv² − (Σv)² is exact in 128 bits and never negative; one rounding in the root.
    const unsigned __int128 spread =
        s.squares * n - static_cast<unsigned __int128>(s.sum) * s.sum;
    stats[c] = ChannelStats{static_cast<double>(s.sum) / static_cast<double>(n), s.min, s.max,
                            std::sqrt(static_cast<double>(spread)) / static_cast<double>(n)};
  }
  return stats;
}

std::vector<std::string> channel_names(int channels) {
  if (channels == 1) return {"grey"};
  if (channels == 3) return {"red", "green", "blue"};
  std::vector<std::string> names;
  for (int c = 1; c <= channels; ++c) names.push_back("c" + std::to_string(c));
  return names;
}

}  // namespace scan
