// Owners for the FFmpeg objects the clip writer makes, so no early return leaks one.
#pragma once
#include <memory>
#include <string>

#include "host/ffmpeg_handles.h"

namespace clipwriter {

struct OutputDeleter {
  void operator()(AVFormatContext* ctx) const {
    if (ctx == nullptr) return;
    if (ctx->pb != nullptr && !(ctx->oformat->flags & AVFMT_NOFILE)) avio_closep(&ctx->pb);
    avformat_free_context(ctx);
  }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;
// The decoding side's owners serve the encoder as they are.
using host::CodecPtr;
using host::FramePtr;
using host::PacketPtr;
using host::ScalerPtr;

// "what: FFmpeg's own words for code".
inline std::string describe_error(const std::string& what, int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return what + ": " + text;
}

}  // namespace clipwriter
