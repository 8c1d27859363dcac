#include "host/decoder_open.h"

#include <algorithm>
#include <cstdint>

#include "host/av_error.h"

namespace host {
namespace {

OpenedDecoder failure(MediaStatus status, std::string detail) {
  OpenedDecoder opened;
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

}  // namespace

OpenedDecoder open_decoder(const AVCodecParameters* par) {
  const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
  if (decoder == nullptr)
    return failure(MediaStatus::not_playable,
                   std::string("no decoder for ") + avcodec_get_name(par->codec_id));
  CodecPtr codec(avcodec_alloc_context3(decoder));
  if (!codec) return failure(MediaStatus::out_of_memory, "cannot set up the decoder");
  if (int err = avcodec_parameters_to_context(codec.get(), par); err < 0)
    return failure(MediaStatus::not_playable, av_error_text("cannot set up the decoder", err));
  // One thread: pictures then leave the decoder one packet after their own, which is
  // what tells their slot in an AVI.
  codec->thread_count = 1;
  codec->max_pixels = picture_budget(par->width, par->height);
  if (int err = avcodec_open2(codec.get(), decoder, nullptr); err < 0)
    return failure(MediaStatus::not_playable, av_error_text("cannot open the decoder", err));
  OpenedDecoder opened;
  opened.codec = std::move(codec);
  return opened;
}

}  // namespace host
