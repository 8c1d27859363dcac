// SPDX-License-Identifier: GPL-3.0-or-later
#include "baseline.h"

#include <stdexcept>

namespace bench {

Baseline::Baseline(const std::string& path, int out_width, int out_height)
    : out_w_(out_width), out_h_(out_height), out_(static_cast<size_t>(out_width) * out_height) {
  if (avformat_open_input(&format_, path.c_str(), nullptr, nullptr) < 0)
    throw std::runtime_error("cannot open " + path);
  avformat_find_stream_info(format_, nullptr);
  stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const AVCodec* decoder = avcodec_find_decoder(format_->streams[stream_]->codecpar->codec_id);
  codec_ = avcodec_alloc_context3(decoder);
  avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar);
  codec_->thread_count = 1;  // as the clip decodes
  avcodec_open2(codec_, decoder, nullptr);
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  sws_ = sws_getContext(codec_->width, codec_->height, codec_->pix_fmt, out_w_, out_h_,
                        AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr);
  next();
}

Baseline::~Baseline() {
  sws_freeContext(sws_);
  av_frame_free(&frame_);
  av_packet_free(&packet_);
  avcodec_free_context(&codec_);
  avformat_close_input(&format_);
}

bool Baseline::decode_one() {
  for (;;) {
    int err = avcodec_receive_frame(codec_, frame_);
    if (err == 0) {
      slot_ = frame_->pkt_dts == AV_NOPTS_VALUE ? slot_ + 1 : frame_->pkt_dts - codec_->has_b_frames;
      return true;
    }
    if (err == AVERROR_EOF) return false;
    int read = av_read_frame(format_, packet_);
    if (read < 0) {
      avcodec_send_packet(codec_, nullptr);
      continue;
    }
    if (packet_->stream_index == stream_) avcodec_send_packet(codec_, packet_);
    av_packet_unref(packet_);
  }
}

void Baseline::scale() {
  uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(out_.data())};
  int stride[4] = {out_w_ * 4};
  sws_scale(sws_, frame_->data, frame_->linesize, 0, frame_->height, dst, stride);
}

bool Baseline::next() {
  if (!decode_one()) return false;
  scale();
  return true;
}

bool Baseline::seek(int64_t frame) {
  if (av_seek_frame(format_, stream_, frame, AVSEEK_FLAG_BACKWARD) < 0) return false;
  avcodec_flush_buffers(codec_);
  slot_ = -1;
  do {
    if (!decode_one()) return false;
  } while (slot_ < frame);
  scale();
  return true;
}

void Baseline::rewind() { seek(0); }

}  // namespace bench
