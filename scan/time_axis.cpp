// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/time_axis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace scan {
namespace {

constexpr double tick_steps[] = {1,   2,   5,    10,   15,   30,    60,    120,  300,
                                 600, 900, 1800, 3600, 7200, 10800, 21600, 43200};

// Times are read off to the microsecond, so a tick a hair's breadth off a multiple is on it.
constexpr double tolerance = 1e-6;

}  // namespace

base::Result<std::vector<int64_t>, std::string> bin_frames(const std::vector<double>& times,
                                                           double bin, int64_t max_bins) {
  if (times.empty()) return std::vector<int64_t>{};
  const double first = times.front();
  const double last = *std::max_element(times.begin(), times.end());
  const double count = std::floor((last - first) / bin + tolerance) + 1;
  if (!(count <= static_cast<double>(max_bins)))
    return base::failure("it would make " + std::to_string(static_cast<long long>(count)) +
                         " strips, more than " + std::to_string(max_bins));
  std::vector<int64_t> chosen(static_cast<size_t>(count), -1);
  for (size_t i = 0; i < times.size(); ++i) {
    if (times[i] < first) continue;
    const auto at = static_cast<size_t>(std::floor((times[i] - first) / bin + tolerance));
    if (at < chosen.size() && chosen[at] < 0) chosen[at] = static_cast<int64_t>(i);
  }
  return chosen;
}

std::optional<double> parse_duration(const std::string& text) {
  if (text.empty()) return std::nullopt;
  double unit = 1;
  std::string number = text;
  switch (text.back()) {
    case 's':
      number.pop_back();
      break;
    case 'm':
      unit = 60;
      number.pop_back();
      break;
    case 'h':
      unit = 3600;
      number.pop_back();
      break;
    default:
      break;
  }
  if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos ||
      number.find('.') != number.rfind('.') || number == ".")
    return std::nullopt;
  const double value = std::strtod(number.c_str(), nullptr) * unit;
  if (!std::isfinite(value) || value <= 0) return std::nullopt;
  return value;
}

double tick_step(const TickAxis& axis, double min_spacing) {
  // Pixels a second, from the whole axis: the span of its times over its length.
  double span = 0;
  if (axis.values.size() > 1) {
    const auto [low, high] = std::minmax_element(axis.values.begin(), axis.values.end());
    span = *high - *low;
  }
  const double pixels = static_cast<double>(axis.values.size()) * axis.strip_pixels;
  if (span <= 0) return tick_steps[0];
  const double per_second = pixels / span;
  for (double step : tick_steps)
    if (step * per_second >= min_spacing) return step;
  return tick_steps[std::size(tick_steps) - 1];
}

std::vector<Tick> make_ticks(const TickAxis& axis, double min_spacing) {
  std::vector<Tick> ticks;
  const double step = tick_step(axis, min_spacing);
  const std::vector<double>& v = axis.values;
  double last_position = -min_spacing;
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
      if (position - last_position < min_spacing * 0.5) continue;
      ticks.push_back({position, tick_label(t, step, axis.wall_clock)});
      last_position = position;
    }
  }
  return ticks;
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
