// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/decoder_setup.h"

#include <algorithm>
#include <cstdint>

#include "base/stop_signals.h"
#include "decode/av_error.h"

namespace decode {
namespace {

// The most pixels a picture of this clip may have. An in-band header can claim a picture
// thousands of times the clip's own size (8191x8191 in a 32x24 clip): each would cost the
// decoder a second and a hundred megabytes. Such a picture is refused like a damaged
// packet, so its slot shows the picture before. The decoder checks its own frames and
// scratch buffers too, which are larger than the picture by their edges: hence the
// generous factor and the floor.
int64_t picture_budget(int width, int height) {
  return std::max(int64_t{4} * width * height, int64_t{1} << 20);
}

// FFV1 takes its picture size from the container alone: a stream joined from clips of two
// sizes is decoded at the first, and slices of the other size leave parts of the picture
// unwritten. Those parts hold whatever the buffer held before, which differs from run to
// run; cleared buffers make them black, the same every time.
int cleared_buffer(AVCodecContext* codec, AVFrame* frame, int flags) {
  const int got = avcodec_default_get_buffer2(codec, frame, flags);
  if (got < 0) return got;
  for (AVBufferRef* buffer : frame->buf)
    if (buffer != nullptr) std::fill_n(buffer->data, buffer->size, uint8_t{0});
  return got;
}

}  // namespace

Opening<CodecPtr> open_decoder(const AVStream* stream, int threads) {
  const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
  if (decoder == nullptr)
    return open_failure(OpenProblem::no_decoder, std::string("no decoder for ") +
                                                     avcodec_get_name(stream->codecpar->codec_id));
  CodecPtr codec(avcodec_alloc_context3(decoder));
  if (!codec) return open_failure(OpenProblem::out_of_memory, "cannot set up the decoder");
  if (int err = avcodec_parameters_to_context(codec.get(), stream->codecpar); err < 0)
    return open_failure(OpenProblem::not_media, av_error_text("cannot set up the decoder", err));
  codec->thread_count = threads;
  codec->max_pixels = picture_budget(stream->codecpar->width, stream->codecpar->height);
  if (threads > 1) codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  if (stream->codecpar->codec_id == AV_CODEC_ID_FFV1) codec->get_buffer2 = cleared_buffer;
  const int err = [&] {
    const base::StopSignalsHeld held;  // the decoder's threads leave stop signals to the reader
    return avcodec_open2(codec.get(), decoder, nullptr);
  }();
  if (err < 0)
    return open_failure(OpenProblem::not_media, av_error_text("cannot open the decoder", err));
  return codec;
}

}  // namespace decode
