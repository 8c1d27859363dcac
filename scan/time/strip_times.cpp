// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/time/strip_times.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/rational.h>
}

namespace scan {
namespace {

bool shown(const ScanFrames& frames, int64_t frame) {
  // An AVI slot without a chunk of its own repeats the picture before it.
  if (!frames.avi_slots || frames.picture_frames.empty()) return true;
  return std::binary_search(frames.picture_frames.begin(), frames.picture_frames.end(), frame);
}

}  // namespace

std::optional<WallTime> clip_clock(const std::string& path, ClockSource source,
                                   const std::optional<std::string>& creation_time) {
  switch (source) {
    case ClockSource::automatic:
    case ClockSource::exif:
      return creation_time ? parse_iso_time(*creation_time) : std::nullopt;
    case ClockSource::name:
      return name_clock(path);
    case ClockSource::mtime:
      return mtime_clock(path);
    case ClockSource::none:
      break;
  }
  return std::nullopt;
}

std::string clock_name(ClockSource source) {
  switch (source) {
    case ClockSource::exif:
      return "EXIF date";
    case ClockSource::name:
      return "date and time in the name";
    case ClockSource::mtime:
      return "modification time";
    case ClockSource::automatic:
    case ClockSource::none:
      break;
  }
  return "clock";
}

FrameTimes FrameTimes::of_clip(const ScanFrames& frames, std::optional<WallTime> start) {
  FrameTimes times(frames);
  times.start_ = start;
  return times;
}

base::Result<FrameTimes, base::Error> FrameTimes::of_images(const ScanFrames& frames,
                                                            std::vector<std::string> files,
                                                            ClockSource source) {
  FrameTimes times(frames);
  times.files_ = std::move(files);
  if (source == ClockSource::none) return times;
  // One clock for the whole run, so that no image's time is read off another: a night
  // with one image short of EXIF keeps the others' EXIF times.
  const auto read = [&](ClockSource kind) {
    times.clocks_.clear();
    bool any = false;
    for (const std::string& file : times.files_) {
      times.clocks_.push_back(picture_clock(file, kind));
      any = any || times.clocks_.back().has_value();
    }
    return any;
  };
  bool found = false;
  if (source == ClockSource::automatic) {
    for (ClockSource kind : {ClockSource::exif, ClockSource::name, ClockSource::mtime})
      if ((found = read(kind))) {
        source = kind;
        break;
      }
  } else {
    found = read(source);
  }
  if (!found)
    return base::usage("--clock " + std::string(source == ClockSource::exif   ? "exif"
                                                : source == ClockSource::name ? "name"
                                                                              : "mtime") +
                       ": no image has " + (source == ClockSource::exif ? "an " : "a ") +
                       clock_name(source));
  times.source_ = source;
  for (size_t i = 0; i < times.clocks_.size(); ++i) {
    if (times.clocks_[i]) {
      if (!times.origin_) times.origin_ = times.clocks_[i];
    } else if (times.untimed_++ == 0) {
      times.first_untimed_ = times.file(static_cast<int64_t>(i));
    }
  }
  return times;
}

std::optional<double> FrameTimes::seconds(int64_t frame) const {
  if (!origin_) return frames_->seconds_of(frame);
  if (frame < 0 || frame >= static_cast<int64_t>(clocks_.size())) return std::nullopt;
  const std::optional<WallTime>& at = clocks_[static_cast<size_t>(frame)];
  if (!at) return std::nullopt;
  // Across a change of offset (summer time) the UTC times tell the true interval.
  const std::optional<int64_t> a = at->utc_micros(), b = origin_->utc_micros();
  const int64_t micros = a && b ? *a - *b : at->civil_micros - origin_->civil_micros;
  return static_cast<double>(micros) / 1e6;
}

std::optional<WallTime> FrameTimes::clock(int64_t frame) const {
  if (!files_.empty())
    return frame >= 0 && frame < static_cast<int64_t>(clocks_.size())
               ? clocks_[static_cast<size_t>(frame)]
               : std::nullopt;
  if (!start_) return std::nullopt;
  return start_->plus(frames_->seconds_of(frame));
}

std::string FrameTimes::file(int64_t frame) const {
  if (frame < 0 || frame >= static_cast<int64_t>(files_.size())) return {};
  const std::string& path = files_[static_cast<size_t>(frame)];
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int64_t FrameTimes::frame_at_seconds(double seconds) const {
  if (!origin_) return frames_->frame_at_seconds(seconds);
  for (int64_t f = 0; f < static_cast<int64_t>(clocks_.size()); ++f)
    if (const std::optional<double> s = this->seconds(f); s && *s >= seconds - 1e-6) return f;
  return frames_->count;
}

namespace {

// Loops over every strip ask this often whether to stop.
constexpr int64_t stop_every = 1 << 16;

bool stopped(const base::ShouldStop& stop, int64_t i) {
  return stop && i % stop_every == 0 && stop();
}

}  // namespace

base::Result<std::vector<double>, base::Error> range_seconds(const FrameTimes& times,
                                                             int64_t from, int64_t to,
                                                             const base::ShouldStop& stop) {
  std::vector<double> seconds;
  seconds.reserve(static_cast<size_t>(std::max<int64_t>(to - from, 0)));
  for (int64_t f = from; f < to; ++f) {
    if (stopped(stop, f - from)) return base::failed("interrupted");
    seconds.push_back(times.seconds(f).value_or(std::nan("")));
  }
  return seconds;
}

base::Result<StripFrames, base::Error> binned_frames(const FrameTimes& frame_times,
                                                     const std::vector<double>& times,
                                                     int64_t from, double bin) {
  auto chosen = bin_frames(times, bin, max_bins);
  if (!chosen) return base::failure(chosen.error());
  StripFrames strips;
  strips.bin = bin;
  strips.first_time = earliest_time(times);
  strips.frames = std::move(*chosen);
  int64_t last = -1;
  for (int64_t& f : strips.frames) {
    if (f < 0) continue;
    f += from;
    // The pictures are read once, front to back: an interval whose first picture comes
    // before an earlier interval's cannot be laid in time.
    if (f < last) {
      const auto named = [&](int64_t frame) {
        const std::string file = frame_times.file(frame);
        const std::optional<WallTime> clock = frame_times.clock(frame);
        return (file.empty() ? "frame " + std::to_string(frame) : file) +
               (clock ? " (" + iso_time(*clock) + ")" : std::string());
      };
      return base::usage("the pictures' times do not rise with their order: " +
                         named(last) + " is earlier than " + named(f) +
                         " but comes after it; order the images by time or choose another "
                         "--clock");
    }
    last = f;
  }
  return strips;
}

base::Result<std::vector<StripRecord>, base::Error> strip_records(
    const ScanFrames& frames, const FrameTimes& times, const StripFrames& strips,
    int64_t strip_pixels, const base::ShouldStop& stop) {
  // Made one by one, not all at once up front, so that a signal is seen while they are.
  std::vector<StripRecord> records;
  records.reserve(strips.frames.size());
  std::optional<WallTime> origin;  // the clock at time 0, for gaps
  for (size_t k = 0; k < strips.frames.size(); ++k) {
    if (stopped(stop, static_cast<int64_t>(k))) return base::failed("interrupted");
    StripRecord& r = records.emplace_back();
    r.strip = static_cast<int64_t>(k);
    r.position = r.strip * strip_pixels;
    r.frame = strips.frames[k];
    if (r.frame >= 0) {
      r.seconds = times.seconds(r.frame);
      r.clock = times.clock(r.frame);
      r.file = times.file(r.frame);
      if (r.clock && r.seconds) origin = r.clock->plus(-*r.seconds);
      if (!r.seconds) r.note = StripNote::no_clock;
      else if (!shown(frames, r.frame)) r.note = StripNote::repeat;
    } else {
      // A gap is at its interval's start, so that the axis runs on evenly through it.
      r.seconds = strips.first_time + strips.bin * static_cast<double>(k);
      if (origin) r.clock = origin->plus(*r.seconds);
      r.note = StripNote::gap;
    }
  }
  return records;
}

}  // namespace scan
