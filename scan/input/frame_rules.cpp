// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/frame_rules.h"

#include <algorithm>
#include <cmath>

#include "decode/ffmpeg_handles.h"
#include "decode/media_input.h"

namespace scan {
namespace {

// Frames of the pictures an AVI index lists (chunks holding data).
std::vector<int64_t> avi_picture_frames(AVStream* st, const decode::SlotClock& clock, int64_t length) {
  std::vector<int64_t> frames;
  int count = avformat_index_get_entries_count(st);
  for (int i = 0; i < count; ++i) {
    const AVIndexEntry* e = avformat_index_get_entry(st, i);
    if (e == nullptr || e->size <= 0 || e->pos < 0) continue;
    int64_t slot = clock.to_slot(e->timestamp);
    if (slot >= 0 && slot < length) frames.push_back(slot);
  }
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  return frames;
}

// Stamps of every picture an index lists, when it lists them all (MP4, MOV). Entries
// reaching past the end of the file (a file cut short) hold no picture.
std::vector<int64_t> index_stamps(AVStream* st, int64_t file_bytes) {
  std::vector<int64_t> stamps;
  int count = avformat_index_get_entries_count(st);
  if (count <= 0 || count != st->nb_frames) return stamps;
  for (int i = 0; i < count; ++i) {
    const AVIndexEntry* e = avformat_index_get_entry(st, i);
    if (e == nullptr || e->size <= 0) continue;
    if (file_bytes > 0 && e->pos + e->size > file_bytes) continue;
    // Pictures an edit list cuts away are decoded but never shown.
    if (!(e->flags & AVINDEX_DISCARD_FRAME)) stamps.push_back(e->timestamp);
  }
  return stamps;
}

// Presentation stamps of every picture, reading the file through once (demuxing only).
std::vector<int64_t> read_stamps(const std::string& path, int stream,
                                 const decode::ShouldStop& stop) {
  std::vector<int64_t> stamps;
  decode::Opening<decode::MediaInput> input = decode::open_for_packets(path, stream);
  if (!input) return stamps;
  decode::PacketPtr packet = decode::new_packet();
  while (packet && !(stop && stop()) && av_read_frame(input->format.get(), packet.get()) >= 0) {
    int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    const bool shown = packet->size > 0 && !(packet->flags & AV_PKT_FLAG_DISCARD);
    if (packet->stream_index == input->stream && shown && stamp != AV_NOPTS_VALUE)
      stamps.push_back(stamp);
    av_packet_unref(packet.get());
  }
  return stamps;
}

// One picture to each slot 0, 1, 2, ... (counted from the first picture's slot when
// `from_first`, as decoding stamps of reordered clips start below zero).
bool one_per_slot(const std::vector<int64_t>& sorted, const decode::SlotClock& clock, bool from_first) {
  if (sorted.empty()) return false;
  const int64_t base = from_first ? clock.to_slot(sorted.front()) : 0;
  for (size_t i = 0; i < sorted.size(); ++i)
    if (clock.to_slot(sorted[i]) - base != static_cast<int64_t>(i)) return false;
  return true;
}

}  // namespace

int64_t ScanFrames::frame_at_seconds(double seconds) const {
  if (!variable_rate) {
    double frame = std::ceil(seconds * fps - 1e-6);
    return std::clamp<double>(frame, 0, static_cast<double>(count));
  }
  const double tb = av_q2d(clock.time_base);
  auto at = std::find_if(stamps.begin(), stamps.end(), [&](int64_t stamp) {
    return (stamp - stamps.front()) * tb >= seconds - 1e-6;
  });
  return at - stamps.begin();
}

double ScanFrames::seconds_of(int64_t frame) const {
  if (variable_rate && !stamps.empty()) {
    const size_t at = std::min<size_t>(static_cast<size_t>(std::max<int64_t>(frame, 0)),
                                       stamps.size() - 1);
    return static_cast<double>(stamps[at] - stamps.front()) * av_q2d(clock.time_base);
  }
  return fps > 0 ? static_cast<double>(frame) / fps : 0;
}

int64_t ScanFrames::frame_of_packet(const AVPacket& packet) const {
  if (avi_slots) return packet.dts == AV_NOPTS_VALUE ? -1 : clock.to_slot(packet.dts);
  if (packet.pts == AV_NOPTS_VALUE) return -1;
  if (!variable_rate) return clock.to_slot(packet.pts);
  auto at = std::lower_bound(stamps.begin(), stamps.end(), packet.pts);
  return at != stamps.end() && *at == packet.pts ? at - stamps.begin() : -1;
}

int64_t ScanFrames::next_picture_frame(int64_t frame) const {
  if (!avi_slots) return frame + 1;
  auto after = std::upper_bound(picture_frames.begin(), picture_frames.end(), frame);
  return after == picture_frames.end() ? count : *after;
}

ScanFrames count_scan_frames(AVFormatContext* format, int stream, const decode::SlotTable& table,
                             bool avi, const std::string& path, const decode::ShouldStop& stop) {
  AVStream* st = format->streams[stream];
  ScanFrames frames;
  frames.clock = decode::SlotClock::of(format, st);
  frames.fps = av_q2d(frames.clock.rate);
  if (avi) {
    frames.avi_slots = true;
    frames.count = table.length;
    if (!table.scanned) frames.picture_frames = avi_picture_frames(st, frames.clock, table.length);
    return frames;
  }
  std::vector<int64_t> stamps = index_stamps(st, decode::file_size(format));
  std::sort(stamps.begin(), stamps.end());
  if (one_per_slot(stamps, frames.clock, true)) {
    frames.count = static_cast<int64_t>(stamps.size());
    return frames;
  }
  // The slot table's read-through, where there was one, has seen every picture already.
  stamps = table.scanned ? table.picture_stamps : read_stamps(path, stream, stop);
  std::sort(stamps.begin(), stamps.end());
  frames.count = static_cast<int64_t>(stamps.size());
  if (!one_per_slot(stamps, frames.clock, false)) {
    frames.variable_rate = true;
    frames.stamps = std::move(stamps);
  }
  return frames;
}

}  // namespace scan
