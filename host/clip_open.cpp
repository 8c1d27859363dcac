// Clip::open: from a path to a clip standing on frame 0, or a status saying why not.
#include <string_view>

#include "host/decoder_setup.h"
#include "host/ffmpeg_clip.h"
#include "host/media_input.h"

namespace host {

namespace {

Clip::Opened failed(MediaStatus status, std::string detail) {
  Clip::Opened opened;
  opened.status = status;
  opened.detail = std::move(detail);
  return opened;
}

Clip::Opened open_clip(const std::string& path) {
  MediaInput input = open_media(path);
  if (input.status != MediaStatus::ok) return failed(input.status, input.detail);
  AVFormatContext* format = input.format.get();
  AVStream* stream = format->streams[input.stream];
  // One thread: pictures then leave the decoder one packet after their own, which is
  // what tells their slot in an AVI.
  OpenedDecoder decoder = open_decoder(stream, 1);
  if (!decoder.codec) return failed(decoder.status, decoder.detail);
  CodecPtr codec = std::move(decoder.codec);

  bool dts_slots = std::string_view(format->iformat->name) == "avi";
  SlotClock clock = SlotClock::of(format, stream);
  SlotTable table = build_slot_table(format, input.stream, clock, dts_slots, path);
  if (table.length <= 0) return failed(MediaStatus::not_playable, "the file holds no picture");
  if (std::string damaged = damaged_timing(table, file_size(format)); !damaged.empty())
    return failed(MediaStatus::not_playable, damaged);
  int width = stream->codecpar->width, height = stream->codecpar->height;
  auto clip = std::make_unique<FfmpegClip>(
      DecodeCursor(path, std::move(input.format), input.stream, std::move(codec), clock, dts_slots),
      std::move(table), av_q2d(clock.rate), width, height);
  if (clip->start() != MediaStatus::ok)
    return failed(MediaStatus::not_playable, "no picture of the file could be decoded");
  Clip::Opened opened;
  opened.clip = std::move(clip);
  return opened;
}

}  // namespace

Clip::Opened Clip::open(const std::string& path) {
  try {
    return open_clip(path);
  } catch (const std::bad_alloc&) {
    return failed(MediaStatus::out_of_memory, "out of memory while opening " + path);
  }
}

}  // namespace host
