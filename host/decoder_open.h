// The decoder of a clip's video stream, set up the same way at opening and whenever
// decoding must start afresh from the top.
#pragma once
#include <string>

#include "host/ffmpeg_handles.h"
#include "host/media_errors.h"

namespace host {

struct OpenedDecoder {
  CodecPtr codec;  // null on failure
  MediaStatus status = MediaStatus::ok;
  std::string detail;  // why it failed, in FFmpeg's words where it has them
};

// An open decoder for the stream `par` describes: one thread, and pictures refused when
// they are far larger than the stream's own size.
OpenedDecoder open_decoder(const AVCodecParameters* par);

}  // namespace host
