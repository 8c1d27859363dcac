// Owners for the FFmpeg objects the clip writer makes, so no early return leaks one.
#pragma once
#include <memory>
#include <string>

#include "host/av_error.h"
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
// The decoding side's owners and error text serve the encoder as they are.
using host::CodecPtr;
using host::FramePtr;
using host::PacketPtr;
using host::ScalerPtr;
using host::av_error_text;

}  // namespace clipwriter
