// Opening a decoder for a clip's video stream.
#pragma once
#include <string>

#include "host/ffmpeg_handles.h"
#include "host/media_errors.h"

namespace host {

struct OpenedDecoder {
  CodecPtr codec;  // null on failure
  MediaStatus status = MediaStatus::ok;
  std::string detail;
  bool no_decoder = false;  // this FFmpeg has no decoder for the stream's codec
};

// A decoder for `stream` running `threads` threads. One thread hands each picture out one
// packet after its own, which is what tells its slot in an AVI; more decode whole frames
// side by side (and slices, where the codec cuts its frames into them).
OpenedDecoder open_decoder(const AVStream* stream, int threads);

}  // namespace host
