// SPDX-License-Identifier: GPL-3.0-or-later
// Time as an axis of the streak image: one strip per interval of time (--bin), and tick
// marks at round times along the strips (--ticks).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace scan {

// One entry per interval of `bin` seconds from times[0]: the index of the first picture
// (in the order given) whose time lies in the interval, or -1 when none does. Pictures
// earlier than times[0] belong to no interval. Fails when more than `max_bins` intervals
// would be needed, as a tiny --bin over a long night would.
base::Result<std::vector<int64_t>, std::string> bin_frames(const std::vector<double>& times,
                                                           double bin, int64_t max_bins);

// A time as --bin takes it: 60s, 0.5s, 2m, 1h (a plain number is seconds).
std::optional<double> parse_duration(const std::string& text);

struct Tick {
  double position = 0;  // along the time axis of the image, in pixels
  std::string label;
};

// The axis: strip k starts at pixel k * strip_pixels and shows the time values[k], seconds
// either of a wall clock's day (civil seconds) or from the clip's start. Ticks fall on
// whole multiples of a step chosen from 1, 2, 5, 10, 15, 30 s, 1, 2, 5, 10, 15, 30 min,
// 1, 2, 3, 6, 12 h: the smallest whose ticks lie at least `min_spacing` pixels apart.
struct TickAxis {
  std::vector<double> values;
  double strip_pixels = 1;
  bool wall_clock = false;  // labels 22:15 (a time of day) rather than 1:30 (from the start)
};

double tick_step(const TickAxis& axis, double min_spacing);
std::vector<Tick> make_ticks(const TickAxis& axis, double min_spacing);

// "22:15", "22:15:30" (steps under a minute) for a wall clock; "1:30", "1:02:03" from the
// start.
std::string tick_label(double value, double step, bool wall_clock);

}  // namespace scan
