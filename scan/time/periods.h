// SPDX-License-Identifier: GPL-3.0-or-later
// --split-at: a watch's images cut into periods of a day, each period its own OUTPUT and
// timeline, named by the period's start through the strftime fields of the names given.
// Nights do not end at midnight: a keogram's day starts at noon, say, and a period is the
// day from one such time to the next, reckoned on each picture's own clock.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scan/input/frame_source.h"
#include "scan/time/timeline.h"

namespace scan {

// `t` as a civil time where the periods are reckoned: the local zone's (TZ) or, `utc`,
// UTC's. A clock without an offset is taken as local time.
int64_t split_clock(const WallTime& t, bool utc);

// The start of the period that holds the civil time `at`: the last `split` (microseconds
// from midnight) at or before it.
int64_t period_start(int64_t at, int64_t split);

// `pattern` with its strftime fields filled from the civil time `start`.
std::string dated(const std::string& pattern, int64_t start);

class Periods {
 public:
  // `output` and `timeline` (empty: none) are the names given, `split` the time of day
  // periods start at, in microseconds from midnight.
  Periods(std::string output, std::string timeline, int64_t split, bool utc)
      : output_(std::move(output)), timeline_(std::move(timeline)), split_(split), utc_(utc) {}
  const std::string& output_pattern() const { return output_; }
  const std::string& timeline_pattern() const { return timeline_; }
  // The files of the period that starts at `start`; no timeline when none was named.
  std::string output_of(int64_t start) const { return dated(output_, start); }
  std::string timeline_of(int64_t start) const {
    return timeline_.empty() ? std::string() : dated(timeline_, start);
  }
  // The period open now; none before the first picture.
  std::optional<int64_t> current() const { return start_; }
  // Goes on with the period `start` an earlier run of the watch left, whose strips are
  // `records`.
  void resume(int64_t start, const std::vector<StripRecord>& records);
  // The period a picture taken at `clock` opens: the one that holds it when that starts
  // after the period open now (or none is), else nothing, the picture going with the
  // period open now. A picture without a clock opens none.
  std::optional<int64_t> opens(const std::optional<WallTime>& clock) const;
  // Opens period `start` with strip `k` of the run, whose picture is frame `frame`.
  void open(int64_t start, int64_t k, int64_t frame);
  // The first strip of the period open now, counted over the whole run.
  int64_t first_strip() const { return first_k_; }
  // `stamp` of a picture taken at `clock`, counted from the period's start: each period's
  // timeline reads as a run over its images alone would.
  FrameStamp restamp(const FrameStamp& stamp, const std::optional<WallTime>& clock);

 private:
  std::string output_, timeline_;
  int64_t split_;
  bool utc_;
  std::optional<int64_t> start_;
  int64_t first_k_ = 0, first_frame_ = 0;
  std::optional<int64_t> first_clock_;  // the first clock seen in the period
};

}  // namespace scan
