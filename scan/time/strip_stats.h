// SPDX-License-Identifier: GPL-3.0-or-later
// --stats: what each strip's samples hold, per channel, as written to the image (after the
// lines of a thick slit are made one). Worked out from integer sums, so that the figures
// are the same bytes however many threads made the strip.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "strips/exact_strips.h"

namespace scan {

struct ChannelStats {
  double mean = 0;  // sum / n
  uint32_t min = 0, max = 0;
  double sd = 0;    // population standard deviation: sqrt(n * sum of squares - sum²) / n
};

// The channels of `strip` (rows of packed pixels, `channels` samples of `sample_bytes` bytes
// each, 2 being big-endian as PNG stores them); an empty strip gives zeros.
std::vector<ChannelStats> strip_stats(strips::ConstBytePlane strip, int channels, int sample_bytes);

// The channels' names in the timeline's columns: grey for one, red, green and blue for
// three, c1, c2, ... otherwise.
std::vector<std::string> channel_names(int channels);

}  // namespace scan
