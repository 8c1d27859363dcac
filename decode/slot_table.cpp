// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/slot_table.h"

#include <algorithm>
#include <string_view>

#include "decode/ffmpeg_handles.h"
#include "decode/media_input.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace decode {
namespace {

void add_key(SlotTable& table, int64_t slot, int64_t stamp) {
  if (!table.key_slots.empty() && table.key_slots.back() >= slot) return;
  table.key_slots.push_back(slot);
  table.key_stamps.push_back(stamp);
}

void finish(SlotTable& table) {
  table.max_key_distance = 1;
  for (size_t i = 1; i < table.key_slots.size(); ++i)
    table.max_key_distance =
        std::max(table.max_key_distance, table.key_slots[i] - table.key_slots[i - 1]);
  if (!table.key_slots.empty())
    table.max_key_distance = std::max(table.max_key_distance, table.length - table.key_slots.back());
}

SlotTable from_index(AVStream* st, const SlotClock& clock, int64_t size) {
  SlotTable table;
  int64_t last = -1;
  int count = avformat_index_get_entries_count(st);
  for (int i = 0; i < count; ++i) {
    const AVIndexEntry* e = avformat_index_get_entry(st, i);
    // Empty chunks hold no picture; entries reaching past the end of the file are lies.
    if (e == nullptr || e->size <= 0 || e->pos < 0) continue;
    if (size >= 0 && e->pos + e->size > size) continue;
    int64_t slot = clock.to_slot(e->timestamp);
    if (slot < 0) continue;
    last = std::max(last, slot);
    if (e->flags & AVINDEX_KEYFRAME) add_key(table, slot, e->timestamp);
  }
  table.length = last + 1;
  return table;
}

// Reads every packet of the video stream once, without decoding.
SlotTable from_scan(const std::string& path, int stream, const SlotClock& clock, bool dts_slots,
                    const ShouldStop& stop) {
  SlotTable table;
  table.scanned = true;
  Opening<MediaInput> input = open_for_packets(path, stream);
  if (!input) return table;
  PacketPtr packet = new_packet();
  int64_t last = -1;
  while (packet && !(stop && stop()) && av_read_frame(input->format.get(), packet.get()) >= 0) {
    const bool ours = packet->stream_index == input->stream;
    const int64_t shown_at = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (ours && packet->size > 0 && !(packet->flags & AV_PKT_FLAG_DISCARD) &&
        shown_at != AV_NOPTS_VALUE)
      table.picture_stamps.push_back(shown_at);
    bool whole = packet->size > 0 && !(packet->flags & AV_PKT_FLAG_CORRUPT);
    int64_t stamp = dts_slots || packet->pts == AV_NOPTS_VALUE ? packet->dts : packet->pts;
    if (ours && whole && stamp != AV_NOPTS_VALUE) {
      int64_t slot = clock.to_slot(stamp);
      if (slot >= 0) {
        last = std::max(last, slot);
        if (packet->flags & AV_PKT_FLAG_KEY) add_key(table, slot, packet->dts);
      }
    }
    av_packet_unref(packet.get());
  }
  table.length = last + 1;
  return table;
}

}  // namespace

bool is_avi(const AVFormatContext* format) {
  return std::string_view(format->iformat->name) == "avi";
}

SlotClock SlotClock::of(const AVFormatContext* format, const AVStream* stream) {
  SlotClock clock;
  clock.time_base = stream->time_base;
  const bool avi = is_avi(format);
  AVRational rate = avi ? av_inv_q(stream->time_base) : stream->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = stream->r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
  clock.rate = rate;
  clock.start = avi || stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
  if (clock.time_base.num <= 0 || clock.time_base.den <= 0) clock.time_base = av_inv_q(rate);
  return clock;
}

int64_t SlotClock::to_slot(int64_t stamp) const {
  return av_rescale_q_rnd(stamp - start, time_base, av_inv_q(rate),
                          static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

int SlotTable::key_at_or_before(int64_t slot) const {
  auto it = std::upper_bound(key_slots.begin(), key_slots.end(), slot);
  return static_cast<int>(it - key_slots.begin()) - 1;
}

SlotTable build_slot_table(AVFormatContext* format, int stream, const SlotClock& clock,
                           bool dts_slots, const std::string& path, const ShouldStop& stop) {
  AVStream* st = format->streams[stream];
  SlotTable table = from_index(st, clock, file_size(format));
  bool claims_more = st->nb_frames > table.length;
  // Outside AVI an index may list keyframes only; only one entry per frame can be counted on.
  bool partial = !dts_slots && avformat_index_get_entries_count(st) != st->nb_frames;
  if (table.length <= 0 || table.key_slots.empty() || claims_more || partial)
    table = from_scan(path, stream, clock, dts_slots, stop);
  finish(table);
  return table;
}

int64_t smallest_slot_bytes(const AVStream* stream, bool avi) {
  if (avi) return 8;
  const AVCodecParameters* par = stream->codecpar;
  if (par->codec_id == AV_CODEC_ID_RAWVIDEO && par->width > 0 && par->height > 0) {
    const int bytes = av_image_get_buffer_size(static_cast<AVPixelFormat>(par->format),
                                               par->width, par->height, 1);
    if (bytes > 0) return bytes;
  }
  return 1;
}

std::optional<std::string> damaged_timing(const SlotTable& table, int64_t file_bytes,
                                          int64_t slot_bytes) {
  if (file_bytes < 0 || table.length <= file_bytes / std::max<int64_t>(slot_bytes, 1) + 1)
    return std::nullopt;
  return "the file's frame timing is damaged (" + std::to_string(table.length) +
         " frames claimed in " + std::to_string(file_bytes) + " bytes)";
}

}  // namespace decode
