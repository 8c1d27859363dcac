// SPDX-License-Identifier: GPL-3.0-or-later
// The time of each strip of a run: which frame each strip shows (one every N frames, or
// one per --bin interval), its time from the clip's start, and its wall-clock time.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "scan/picture_clock.h"
#include "scan/frame_rules.h"
#include "scan/time_axis.h"
#include "scan/timeline.h"

namespace scan {

// Seconds from the clip's start at which `frame` is shown.
double frame_seconds(const ScanFrames& frames, int64_t frame);

// The container's creation_time, when it states one.
std::optional<WallTime> creation_time(const std::string& path);

// The wall clock at the clip's start by `source`: the container's creation time (exif and
// automatic; a clip has no EXIF), the date and time in its name, or its modification time.
std::optional<WallTime> clip_clock(const std::string& path, ClockSource source);

// Strip k's frame for frames from, from + every, ... before to: -1 marks a --bin gap.
struct StripFrames {
  std::vector<int64_t> frames;
  double bin = 0;          // seconds; 0 without --bin
  double first_time = 0;   // seconds of the first chosen frame, where bins start
};

// One strip per interval of `bin` seconds over the frames from .. to - 1.
base::Result<StripFrames, std::string> binned_frames(const ScanFrames& frames, int64_t from,
                                                     int64_t to, double bin);

// The records of the strips, `strip_pixels` apart; `start` is the wall clock at the clip's
// start when known.
std::vector<StripRecord> strip_records(const ScanFrames& frames, const StripFrames& strips,
                                       int64_t strip_pixels, const std::optional<WallTime>& start);

}  // namespace scan
