// SPDX-License-Identifier: GPL-3.0-or-later
// The time of each strip of a run: which frame each strip shows (one every N frames, or
// one per --bin interval), its time from the input's start, and its wall-clock time.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "base/should_stop.h"
#include "scan/input/frame_rules.h"
#include "scan/time/picture_clock.h"
#include "scan/time/time_axis.h"
#include "scan/time/timeline.h"

namespace scan {

// The wall clock at the clip's start by `source`: the container's creation time
// `creation_time` as the clip's source read it (exif and automatic; a clip has no EXIF),
// the date and time in its name, or its modification time.
std::optional<WallTime> clip_clock(const std::string& path, ClockSource source,
                                   const std::optional<std::string>& creation_time);

// "EXIF date", "date and time in its name", ...: what `source` looks for, for messages.
std::string clock_name(ClockSource source);

// The times of an input's frames, known before any picture is decoded. A run has one
// clock: every time is read off it, and an image without it has no time.
class FrameTimes {
 public:
  // A clip: times from its index, the wall clock `start` at its start when known.
  static FrameTimes of_clip(const ScanFrames& frames, std::optional<WallTime> start);
  // An image sequence on one clock: `source`, or (automatic) the first of EXIF, name and
  // mtime that any image has. An image's time is its clock less the first timed image's;
  // with --clock none the images are `frames`' rate apart. Fails when a clock named by
  // `source` is on no image.
  static base::Result<FrameTimes, base::Error> of_images(const ScanFrames& frames,
                                                         std::vector<std::string> files,
                                                         ClockSource source);

  // Nothing for an image without the run's clock.
  std::optional<double> seconds(int64_t frame) const;
  std::optional<WallTime> clock(int64_t frame) const;
  // The image's name without its folder; empty for a clip.
  std::string file(int64_t frame) const;
  // The first frame whose time is at or after `seconds` (images without a time are passed
  // by); the frame count when none is.
  int64_t frame_at_seconds(double seconds) const;
  // The clock the run's images are on (none for a clip).
  ClockSource source() const { return source_; }
  // Images without that clock: how many, and the first's name.
  int64_t untimed() const { return untimed_; }
  std::string first_untimed() const { return first_untimed_; }

 private:
  explicit FrameTimes(const ScanFrames& frames) : frames_(&frames) {}
  const ScanFrames* frames_;
  std::optional<WallTime> start_;
  std::vector<std::string> files_;
  std::vector<std::optional<WallTime>> clocks_;
  std::optional<WallTime> origin_;  // the first timed image's clock
  ClockSource source_ = ClockSource::none;
  int64_t untimed_ = 0;
  std::string first_untimed_;
};

// The seconds of frames from .. to - 1, NaN for an image without a time.
base::Result<std::vector<double>, base::Error> range_seconds(const FrameTimes& times,
                                                             int64_t from, int64_t to,
                                                             const base::ShouldStop& stop = {});

// Strip k's frame; -1 marks a --bin interval without one.
struct StripFrames {
  std::vector<int64_t> frames;
  double bin = 0;         // seconds; 0 without --bin
  double first_time = 0;  // seconds where the bins start: the earliest chosen frame's
};

// One strip per interval of `bin` seconds over `seconds` (range_seconds from `from`), or
// why not (pictures whose times run against their order). Check bin_count first: this
// allocates that many strips.
base::Result<StripFrames, base::Error> binned_frames(const FrameTimes& times,
                                                     const std::vector<double>& seconds,
                                                     int64_t from, double bin);

// The records of the strips, `strip_pixels` apart; fails only when `stop` says so.
base::Result<std::vector<StripRecord>, base::Error> strip_records(
    const ScanFrames& frames, const FrameTimes& times, const StripFrames& strips,
    int64_t strip_pixels, const base::ShouldStop& stop = {});

}  // namespace scan
