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

base::Result<StripFrames, std::string> binned_frames(const ScanFrames& frames, int64_t from,
                                                     int64_t to, double bin) {
  std::vector<double> times;
  times.reserve(static_cast<size_t>(to - from));
  for (int64_t f = from; f < to; ++f) times.push_back(frame_seconds(frames, f));
  auto chosen = bin_frames(times, bin, max_bins);
  if (!chosen) return base::failure(chosen.error());
  StripFrames strips;
  strips.bin = bin;
  strips.first_time = times.empty() ? 0 : times.front();
  strips.frames = std::move(*chosen);
  for (int64_t& f : strips.frames)
    if (f >= 0) f += from;
  return strips;
}

std::vector<StripRecord> strip_records(const ScanFrames& frames, const StripFrames& strips,
                                       int64_t strip_pixels, const std::optional<WallTime>& start) {
  std::vector<StripRecord> records(strips.frames.size());
  for (size_t k = 0; k < records.size(); ++k) {
    StripRecord& r = records[k];
    r.strip = static_cast<int64_t>(k);
    r.position = r.strip * strip_pixels;
    r.frame = strips.frames[k];
    // A gap is at its interval's start, so that the axis runs on evenly through it.
    r.seconds = r.frame >= 0 ? frame_seconds(frames, r.frame)
                             : strips.first_time + strips.bin * static_cast<double>(k);
    if (start) r.clock = start->plus(r.seconds);
    if (r.frame < 0)
      r.note = StripNote::gap;
    else if (!shown(frames, r.frame))
      r.note = StripNote::repeat;
  }
  return records;
}

}  // namespace scan
