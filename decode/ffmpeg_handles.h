// SPDX-License-Identifier: GPL-3.0-or-later
// Owners for the FFmpeg objects the decoder holds, so no path can leak one.
#pragma once
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace decode {

struct InputDeleter {
  void operator()(AVFormatContext* ctx) const { avformat_close_input(&ctx); }
};
struct CodecDeleter {
  void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct IoDeleter {
  void operator()(AVIOContext* ctx) const { avio_closep(&ctx); }
};
struct ScalerDeleter {
  void operator()(SwsContext* ctx) const { sws_freeContext(ctx); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using IoPtr = std::unique_ptr<AVIOContext, IoDeleter>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerDeleter>;

inline FramePtr new_frame() { return FramePtr(av_frame_alloc()); }
inline PacketPtr new_packet() { return PacketPtr(av_packet_alloc()); }

}  // namespace decode
