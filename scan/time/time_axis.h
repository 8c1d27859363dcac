// SPDX-License-Identifier: GPL-3.0-or-later
// Time as an axis of the streak image: one strip per interval of time (--bin), and tick
// marks at round times along the strips (--ticks).
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace scan {

// Strips beyond this are refused rather than allocated: PNG's side is 2^31 anyway.
inline constexpr int64_t max_bins = int64_t{1} << 28;

// The earliest of `times` (NaN: a picture without a time, passed by); 0 when none has one.
double earliest_time(const std::vector<double>& times);

// How many intervals of `bin` seconds reach from the earliest of `times` to the latest (0
// when none has a time), counted before anything is allocated for them; it may be huge.
double bin_count(const std::vector<double>& times, double bin);

// One entry per interval of `bin` seconds from the earliest of `times`: the index of the
// first picture (in the order given) whose time lies in the interval, or -1 when none
// does. A NaN time belongs to no interval. Fails when more than `max_bins` intervals would
// be needed, as a tiny --bin over a long night would.
base::Result<std::vector<int64_t>, base::Error> bin_frames(const std::vector<double>& times,
                                                           double bin, int64_t max_bins);

// A time as --bin takes it: 60s, 0.5s, 2m, 1h (a plain number is seconds), above 0.
std::optional<double> parse_duration(const std::string& text);
// A time as --from and --to take it: a number with s, m or h (12.5s, 1.5m), 0 or more.
std::optional<double> parse_time_point(const std::string& text);

struct Tick {
  double position = 0;  // along the time axis of the image, in pixels
  std::string label;
};

// The axis: strip k starts at pixel k * strip_pixels and shows the time values[k], seconds
// either of a wall clock's day (civil seconds) or from the clip's start.
struct TickAxis {
  std::vector<double> values;
  double strip_pixels = 1;
  bool wall_clock = false;  // labels 22:15 (a time of day) rather than 1:30 (from the start)
};

// Pixels a label takes along the axis (its width below the image, its height beside it).
using LabelExtent = std::function<double(const std::string& label)>;

// Where a label `extent` long starts along an axis `length` pixels long: centred on its
// tick, moved inside at the ends, as it is drawn.
double label_start(double position, double extent, double length);

// The ticks at whole multiples of `step` seconds, in order along the axis, each placed in
// proportion between the starts of the strips around its time.
std::vector<Tick> ticks_at(const TickAxis& axis, double step);

// Whether two neighbouring labels of `ticks`, placed by label_start on an axis `length`
// pixels long, lie closer than `gap` pixels (or overlap).
bool labels_collide(const std::vector<Tick>& ticks, const LabelExtent& extent, double gap,
                    double length);

// The step of the ticks: the smallest of 1, 2, 5, 10, 15, 30 s, 1, 2, 5, 10, 15, 30 min,
// 1, 2, 3, 6, 12 h that puts at least one tick on the axis and whose labels do not
// collide; when every step's labels collide, the largest. 0 when no step has a tick.
double tick_step(const TickAxis& axis, const LabelExtent& extent, double gap);

// The ticks of tick_step, less any whose label would collide with the one before (only
// when even the largest step is too dense). Empty only when no round time lies on the axis.
std::vector<Tick> make_ticks(const TickAxis& axis, const LabelExtent& extent, double gap);

// "22:15", "22:15:30" (steps under a minute) for a wall clock; "1:30", "1:02:03" from the
// start.
std::string tick_label(double value, double step, bool wall_clock);

}  // namespace scan
