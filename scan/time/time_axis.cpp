// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/time/time_axis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/text.h"

namespace scan {
namespace {

constexpr double tick_steps[] = {1,   2,   5,    10,   15,   30,    60,    120,  300,
                                 600, 900, 1800, 3600, 7200, 10800, 21600, 43200};

// Times are read off to the microsecond, so a tick a hair's breadth off a multiple is on it.
constexpr double tolerance = 1e-6;

}  // namespace

double earliest_time(const std::vector<double>& times) {
  double first = NAN;
  for (double t : times)
    if (!std::isnan(t) && !(t >= first)) first = t;
  return std::isnan(first) ? 0 : first;
}

double bin_count(const std::vector<double>& times, double bin) {
  double first = NAN, last = NAN;
  for (double t : times) {
    if (std::isnan(t)) continue;
    if (!(t >= first)) first = t;
    if (!(t <= last)) last = t;
  }
  return std::isnan(first) ? 0 : std::floor((last - first) / bin + tolerance) + 1;
}

base::Result<std::vector<int64_t>, base::Error> bin_frames(const std::vector<double>& times,
                                                           double bin, int64_t max_bins) {
  const double count = bin_count(times, bin);
  if (!(count <= static_cast<double>(max_bins)))
    return base::usage("it would make " + std::to_string(static_cast<long long>(count)) +
                       " strips, more than " + std::to_string(max_bins));
  const double first = earliest_time(times);
  std::vector<int64_t> chosen(static_cast<size_t>(count), -1);
  for (size_t i = 0; i < times.size(); ++i) {
    if (std::isnan(times[i])) continue;
    const auto at = static_cast<size_t>(std::floor((times[i] - first) / bin + tolerance));
    if (at < chosen.size() && chosen[at] < 0) chosen[at] = static_cast<int64_t>(i);
  }
  return chosen;
}

namespace {

// A decimal with an optional unit s, m or h; `plain_unit` for none (0: refused).
std::optional<double> time_with_unit(const std::string& text, double plain_unit) {
  if (text.empty()) return std::nullopt;
  double unit = plain_unit;
  std::string number = text;
  const char last = text.back();
  if (last == 's' || last == 'm' || last == 'h') {
    unit = last == 's' ? 1 : last == 'm' ? 60 : 3600;
    number.pop_back();
  }
  const std::optional<double> read = base::plain_decimal(number);
  if (unit == 0 || !read) return std::nullopt;
  const double value = *read * unit;
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<double> parse_duration(const std::string& text) {
  const std::optional<double> value = time_with_unit(text, 1);
  if (!value || *value <= 0) return std::nullopt;
  return value;
}

std::optional<double> parse_time_point(const std::string& text) {
  return time_with_unit(text, 0);
}

double label_start(double position, double extent, double length) {
  return std::clamp(position - extent / 2, 0.0, std::max(0.0, length - extent));
}

std::vector<Tick> ticks_at(const TickAxis& axis, double step) {
  std::vector<Tick> ticks;
  const std::vector<double>& v = axis.values;
  for (size_t k = 0; k < v.size(); ++k) {
    // Between the start of strip k and that of the next: the ticks whose time lies in it,
    // placed in proportion; the last strip holds only a tick at its own time.
    const double from = v[k];
    const double to = k + 1 < v.size() ? v[k + 1] : v[k];
    if (to < from) continue;  // times that run backwards mark nothing
    const double end = k + 1 < v.size() ? to - tolerance : to + tolerance;
    for (double t = std::ceil(from / step - tolerance) * step; t <= end; t += step) {
      const double part = to > from ? (t - from) / (to - from) : 0;
      const double position = (static_cast<double>(k) + std::max(0.0, part)) * axis.strip_pixels;
      ticks.push_back({position, tick_label(t, step, axis.wall_clock)});
    }
  }
  return ticks;
}

namespace {

double axis_length(const TickAxis& axis) {
  return static_cast<double>(axis.values.size()) * axis.strip_pixels;
}

// Where each label of `ticks` lies along the axis: its start and its end.
std::pair<double, double> label_span(const Tick& tick, const LabelExtent& extent,
                                     double length) {
  const double e = extent(tick.label);
  const double start = label_start(tick.position, e, length);
  return {start, start + e};
}

// At most how many ticks a step puts on the axis; more than fit side by side collide, and
// are not worth making.
double most_ticks(const TickAxis& axis, double step) {
  if (axis.values.empty()) return 0;
  const auto [low, high] = std::minmax_element(axis.values.begin(), axis.values.end());
  return std::floor(*high / step + tolerance) - std::ceil(*low / step - tolerance) + 1;
}

}  // namespace

bool labels_collide(const std::vector<Tick>& ticks, const LabelExtent& extent, double gap,
                    double length) {
  double end = -HUGE_VAL;
  for (const Tick& t : ticks) {
    const auto [start, stop] = label_span(t, extent, length);
    if (start < end + gap) return true;
    end = stop;
  }
  return false;
}

double tick_step(const TickAxis& axis, const LabelExtent& extent, double gap) {
  const double length = axis_length(axis);
  double fallback = 0;
  for (double step : tick_steps) {
    if (most_ticks(axis, step) > length / std::max(gap, 1.0) + 1) {
      fallback = step;
      continue;
    }
    const std::vector<Tick> ticks = ticks_at(axis, step);
    if (ticks.empty()) continue;
    fallback = step;
    if (!labels_collide(ticks, extent, gap, length)) return step;
  }
  return fallback;
}

std::vector<Tick> make_ticks(const TickAxis& axis, const LabelExtent& extent, double gap) {
  const double step = tick_step(axis, extent, gap);
  if (step == 0) return {};
  const double length = axis_length(axis);
  std::vector<Tick> kept;
  double end = -HUGE_VAL;
  for (Tick& t : ticks_at(axis, step)) {
    const auto [start, stop] = label_span(t, extent, length);
    if (start < end + gap) continue;
    end = stop;
    kept.push_back(std::move(t));
  }
  return kept;
}

std::string tick_label(double value, double step, bool wall_clock) {
  auto whole = static_cast<int64_t>(std::llround(value));
  char text[32];
  if (wall_clock) {
    whole = ((whole % 86400) + 86400) % 86400;
    const int h = static_cast<int>(whole / 3600), m = static_cast<int>(whole / 60 % 60),
              s = static_cast<int>(whole % 60);
    if (step < 60)
      std::snprintf(text, sizeof text, "%02d:%02d:%02d", h, m, s);
    else
      std::snprintf(text, sizeof text, "%02d:%02d", h, m);
    return text;
  }
  const bool negative = whole < 0;
  whole = std::llabs(whole);
  const long long h = whole / 3600;
  const int m = static_cast<int>(whole / 60 % 60), s = static_cast<int>(whole % 60);
  if (h > 0)
    std::snprintf(text, sizeof text, "%s%lld:%02d:%02d", negative ? "-" : "", h, m, s);
  else
    std::snprintf(text, sizeof text, "%s%d:%02d", negative ? "-" : "", m, s);
  return text;
}

}  // namespace scan
