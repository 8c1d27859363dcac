// Clip::open: from a path to a clip standing on frame 0, or a status saying why not.
#include <algorithm>
#include <string_view>

#include "host/av_error.h"
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

// The most pixels a picture of this clip may have. An in-band header can claim a picture
// thousands of times the clip's own size (8191x8191 in a 32x24 clip): each would cost the
// decoder a second and a hundred megabytes. Such a picture is refused like a damaged
// packet, so its slot shows the picture before. The decoder checks its own frames and
// scratch buffers too, which are larger than the picture by their edges: hence the
// generous factor and the floor.
int64_t picture_budget(int width, int height) {
  return std::max(int64_t{4} * width * height, int64_t{1} << 20);
}

Clip::Opened open_clip(const std::string& path) {
  MediaInput input = open_media(path);
  if (input.status != MediaStatus::ok) return failed(input.status, input.detail);
  AVFormatContext* format = input.format.get();
  AVStream* stream = format->streams[input.stream];
  const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
  if (decoder == nullptr)
    return failed(MediaStatus::not_playable,
                  std::string("no decoder for ") + avcodec_get_name(stream->codecpar->codec_id));
  CodecPtr codec(avcodec_alloc_context3(decoder));
  if (!codec) return failed(MediaStatus::out_of_memory, "cannot set up the decoder");
  if (int err = avcodec_parameters_to_context(codec.get(), stream->codecpar); err < 0)
    return failed(MediaStatus::not_playable, av_error_text("cannot set up the decoder", err));
  // One thread: pictures then leave the decoder one packet after their own, which is
  // what tells their slot in an AVI.
  codec->thread_count = 1;
  codec->max_pixels = picture_budget(stream->codecpar->width, stream->codecpar->height);
  if (int err = avcodec_open2(codec.get(), decoder, nullptr); err < 0)
    return failed(MediaStatus::not_playable, av_error_text("cannot open the decoder", err));

  bool dts_slots = std::string_view(format->iformat->name) == "avi";
  SlotClock clock = SlotClock::of(format, stream);
  SlotTable table = build_slot_table(format, input.stream, clock, dts_slots, path);
  if (table.length <= 0) return failed(MediaStatus::not_playable, "the file holds no picture");
  // Every slot takes at least a chunk header (or an index entry) of eight bytes in the
  // file; a length beyond that comes from damaged timing fields, not from pictures.
  if (int64_t size = file_size(format); size >= 0 && table.length > size / 8 + 1)
    return failed(MediaStatus::not_playable,
                  "the file's frame timing is damaged (" + std::to_string(table.length) +
                      " frames claimed in " + std::to_string(size) + " bytes)");
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
