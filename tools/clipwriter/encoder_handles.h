// SPDX-License-Identifier: GPL-3.0-or-later
// Owners for the FFmpeg objects the clip writer makes, so no early return leaks one.
#pragma once
#include <memory>
#include <string>

#include "decode/av_error.h"
#include "decode/ffmpeg_handles.h"

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
using decode::CodecPtr;
using decode::FramePtr;
using decode::PacketPtr;
using decode::ScalerPtr;
using decode::av_error_text;

}  // namespace clipwriter
