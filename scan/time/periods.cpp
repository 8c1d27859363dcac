// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/time/periods.h"

#include <ctime>

#include "scan/input/image_sequence.h"

namespace scan {
namespace {

constexpr int64_t day_micros = int64_t{86400} * 1000000;

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

int64_t split_clock(const WallTime& t, bool utc) {
  if (!utc && !t.offset_minutes) return t.civil_micros;
  if (utc && t.offset_minutes) return *t.utc_micros();
  if (!utc) {
    const int64_t instant = *t.utc_micros();
    const time_t seconds = static_cast<time_t>(floor_div(instant, 1000000));
    std::tm local{};
    localtime_r(&seconds, &local);
    return static_cast<int64_t>(timegm(&local)) * 1000000 + (instant - seconds * int64_t{1000000});
  }
  // Local civil time to UTC: the zone's offset at that moment, summer time or not.
  const time_t seconds = static_cast<time_t>(floor_div(t.civil_micros, 1000000));
  std::tm civil{};
  gmtime_r(&seconds, &civil);
  civil.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&civil)) * 1000000 +
         (t.civil_micros - seconds * int64_t{1000000});
}

int64_t period_start(int64_t at, int64_t split) {
  const int64_t start = floor_div(at, day_micros) * day_micros + split;
  return start <= at ? start : start - day_micros;
}

std::string dated(const std::string& pattern, int64_t start) {
  const time_t seconds = static_cast<time_t>(floor_div(start, 1000000));
  std::tm civil{};
  gmtime_r(&seconds, &civil);
  char name[4096];
  const size_t n = std::strftime(name, sizeof name, pattern.c_str(), &civil);
  return n == 0 ? pattern : std::string(name, n);
}

void Periods::resume(int64_t start, const std::vector<StripRecord>& records) {
  start_ = start;
  for (const StripRecord& r : records)
    if (r.clock && !first_clock_) first_clock_ = r.clock->civil_micros;
}

std::optional<int64_t> Periods::opens(const std::optional<WallTime>& clock) const {
  if (!clock) return std::nullopt;
  const int64_t start = period_start(split_clock(*clock, utc_), split_);
  if (start_ && start <= *start_) return std::nullopt;
  return start;
}

void Periods::open(int64_t start, int64_t k, int64_t frame) {
  start_ = start;
  first_k_ = k;
  first_frame_ = frame;
  first_clock_.reset();
}

FrameStamp Periods::restamp(const FrameStamp& stamp, const std::optional<WallTime>& clock) {
  if (clock && !first_clock_) first_clock_ = clock->civil_micros;
  FrameStamp counted = stamp;
  counted.frame -= first_frame_;
  counted.seconds = clock ? static_cast<double>(clock->civil_micros - *first_clock_) / 1e6
                          : static_cast<double>(counted.frame) / sequence_fps;
  return counted;
}

}  // namespace scan
