// SPDX-License-Identifier: GPL-3.0-or-later
// The time of each strip of a run: which frame each strip shows (one every N frames, or
// one per --bin interval), its time from the input's start, and its wall-clock time.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "scan/frame_rules.h"
#include "scan/picture_clock.h"
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

// The times of an input's frames, known before any picture is decoded.
class FrameTimes {
 public:
  // A clip: times from its index, the wall clock `start` at its start when known.
  static FrameTimes of_clip(const ScanFrames& frames, std::optional<WallTime> start);
  // An image sequence: each image's own clock by `source`. When every image has one, its
  // time is its clock less the first image's; otherwise the images are `frames`' rate apart.
  static FrameTimes of_images(const ScanFrames& frames, std::vector<std::string> files,
                              ClockSource source);

  double seconds(int64_t frame) const;
  std::optional<WallTime> clock(int64_t frame) const;
  // The image's name without its folder; empty for a clip.
  std::string file(int64_t frame) const;

 private:
  explicit FrameTimes(const ScanFrames& frames) : frames_(&frames) {}
  const ScanFrames* frames_;
  std::optional<WallTime> start_;
  std::vector<std::string> files_;
  std::vector<std::optional<WallTime>> clocks_;
  bool by_clock_ = false;
};

// Strip k's frame; -1 marks a --bin interval without one.
struct StripFrames {
  std::vector<int64_t> frames;
  double bin = 0;         // seconds; 0 without --bin
  double first_time = 0;  // seconds of the first chosen frame, where bins start
};

// One strip per interval of `bin` seconds over the frames from .. to - 1, or why not (too
// many intervals; pictures whose times run backwards).
base::Result<StripFrames, std::string> binned_frames(const FrameTimes& times, int64_t from,
                                                     int64_t to, double bin);

// The records of the strips, `strip_pixels` apart.
std::vector<StripRecord> strip_records(const ScanFrames& frames, const FrameTimes& times,
                                       const StripFrames& strips, int64_t strip_pixels);

}  // namespace scan
