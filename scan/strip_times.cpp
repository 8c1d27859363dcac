// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/strip_times.h"

#include <algorithm>

#include "decode/ffmpeg_handles.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace scan {
namespace {

// Strips beyond this are refused rather than allocated: PNG's side is 2^31 anyway.
constexpr int64_t max_bins = int64_t{1} << 28;

bool shown(const ScanFrames& frames, int64_t frame) {
  // An AVI slot without a chunk of its own repeats the picture before it.
  if (!frames.avi_slots || frames.picture_frames.empty()) return true;
  return std::binary_search(frames.picture_frames.begin(), frames.picture_frames.end(), frame);
}

}  // namespace

double frame_seconds(const ScanFrames& frames, int64_t frame) {
  if (frames.variable_rate && !frames.stamps.empty()) {
    const size_t at = std::min<size_t>(static_cast<size_t>(std::max<int64_t>(frame, 0)),
                                       frames.stamps.size() - 1);
    return static_cast<double>(frames.stamps[at] - frames.stamps.front()) *
           av_q2d(frames.clock.time_base);
  }
  return frames.fps > 0 ? static_cast<double>(frame) / frames.fps : 0;
}

std::optional<WallTime> creation_time(const std::string& path) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return std::nullopt;
  decode::InputPtr input(raw);
  const AVDictionaryEntry* entry = av_dict_get(input->metadata, "creation_time", nullptr, 0);
  if (entry == nullptr || entry->value == nullptr) return std::nullopt;
  return parse_iso_time(entry->value);
}

std::optional<WallTime> clip_clock(const std::string& path, ClockSource source) {
  switch (source) {
    case ClockSource::automatic:
    case ClockSource::exif:
      return creation_time(path);
    case ClockSource::name:
      return name_clock(path);
    case ClockSource::mtime:
      return mtime_clock(path);
    case ClockSource::none:
      break;
  }
  return std::nullopt;
}

FrameTimes FrameTimes::of_clip(const ScanFrames& frames, std::optional<WallTime> start) {
  FrameTimes times(frames);
  times.start_ = start;
  return times;
}

FrameTimes FrameTimes::of_images(const ScanFrames& frames, std::vector<std::string> files,
                                 ClockSource source) {
  FrameTimes times(frames);
  times.files_ = std::move(files);
  times.by_clock_ = !times.files_.empty();
  for (const std::string& file : times.files_) {
    times.clocks_.push_back(picture_clock(file, source));
    times.by_clock_ = times.by_clock_ && times.clocks_.back().has_value();
  }
  return times;
}

double FrameTimes::seconds(int64_t frame) const {
  if (!by_clock_ || frame < 0 || frame >= static_cast<int64_t>(clocks_.size()))
    return frame_seconds(*frames_, frame);
  const WallTime& first = *clocks_.front();
  const WallTime& at = *clocks_[static_cast<size_t>(frame)];
  // Across a change of offset (summer time) the UTC times tell the true interval.
  const std::optional<int64_t> a = at.utc_micros(), b = first.utc_micros();
  const int64_t micros = a && b ? *a - *b : at.civil_micros - first.civil_micros;
  return static_cast<double>(micros) / 1e6;
}

std::optional<WallTime> FrameTimes::clock(int64_t frame) const {
  if (!files_.empty())
    return frame >= 0 && frame < static_cast<int64_t>(clocks_.size())
               ? clocks_[static_cast<size_t>(frame)]
               : std::nullopt;
  if (!start_) return std::nullopt;
  return start_->plus(seconds(frame));
}

std::string FrameTimes::file(int64_t frame) const {
  if (frame < 0 || frame >= static_cast<int64_t>(files_.size())) return {};
  const std::string& path = files_[static_cast<size_t>(frame)];
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

base::Result<StripFrames, std::string> binned_frames(const FrameTimes& frame_times, int64_t from,
                                                     int64_t to, double bin) {
  std::vector<double> times;
  times.reserve(static_cast<size_t>(to - from));
  for (int64_t f = from; f < to; ++f) times.push_back(frame_times.seconds(f));
  auto chosen = bin_frames(times, bin, max_bins);
  if (!chosen) return base::failure(chosen.error());
  StripFrames strips;
  strips.bin = bin;
  strips.first_time = times.empty() ? 0 : times.front();
  strips.frames = std::move(*chosen);
  int64_t last = -1;
  for (int64_t& f : strips.frames) {
    if (f < 0) continue;
    f += from;
    // The pictures are read once, front to back.
    if (f < last)
      return base::failure("the pictures' times do not rise with their order (frame " +
                           std::to_string(f) + " is earlier than frame " + std::to_string(last) +
                           ")");
    last = f;
  }
  return strips;
}

std::vector<StripRecord> strip_records(const ScanFrames& frames, const FrameTimes& times,
                                       const StripFrames& strips, int64_t strip_pixels) {
  std::vector<StripRecord> records(strips.frames.size());
  std::optional<WallTime> origin;  // the clock at time 0, for gaps
  for (size_t k = 0; k < records.size(); ++k) {
    StripRecord& r = records[k];
    r.strip = static_cast<int64_t>(k);
    r.position = r.strip * strip_pixels;
    r.frame = strips.frames[k];
    if (r.frame >= 0) {
      r.seconds = times.seconds(r.frame);
      r.clock = times.clock(r.frame);
      r.file = times.file(r.frame);
      if (r.clock) origin = r.clock->plus(-r.seconds);
      if (!shown(frames, r.frame)) r.note = StripNote::repeat;
    } else {
      // A gap is at its interval's start, so that the axis runs on evenly through it.
      r.seconds = strips.first_time + strips.bin * static_cast<double>(k);
      if (origin) r.clock = origin->plus(r.seconds);
      r.note = StripNote::gap;
    }
  }
  return records;
}

}  // namespace scan
