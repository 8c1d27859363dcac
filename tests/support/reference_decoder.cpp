// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/reference_decoder.h"

#include "decode/ffmpeg_handles.h"
#include "service/frame_scaler.h"
#include "tests/support/clips.h"

#include <algorithm>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace velmora_test {
namespace {

std::vector<uint32_t> unpack_bgr24(const AVFrame* f) {
  std::vector<uint32_t> out(static_cast<size_t>(f->width) * f->height);
  for (int y = 0; y < f->height; ++y) {
    const uint8_t* row = f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0];
    for (int x = 0; x < f->width; ++x)
      out[static_cast<size_t>(y) * f->width + x] =
          0xff000000u | row[3 * x + 2] << 16 | row[3 * x + 1] << 8 | row[3 * x];
  }
  return out;
}

// The reference checks which picture is shown; how a picture is scaled is the same code.
std::vector<uint32_t> scaled(const AVFrame* f, int width, int height) {
  std::vector<uint32_t> out(static_cast<size_t>(width) * height);
  service::FrameScaler scaler;
  if (!scaler.scale(f, out.data(), width, height, width)) throw std::runtime_error("no scaler");
  return out;
}

}  // namespace

void for_each_picture(const std::string& path,
                      const std::function<void(const AVFrame&, const AVCodecContext&)>& take) {
  AVFormatContext* opened = nullptr;
  if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0)
    throw std::runtime_error("open");
  decode::InputPtr fmt(opened);
  avformat_find_stream_info(fmt.get(), nullptr);
  const int si = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (si < 0) throw std::runtime_error("no video stream");
  const AVCodec* codec = avcodec_find_decoder(fmt->streams[si]->codecpar->codec_id);
  decode::CodecPtr ctx(avcodec_alloc_context3(codec));
  avcodec_parameters_to_context(ctx.get(), fmt->streams[si]->codecpar);
  ctx->thread_count = 1;
  avcodec_open2(ctx.get(), codec, nullptr);
  decode::PacketPtr pkt = decode::new_packet();
  decode::FramePtr frame = decode::new_frame();
  auto drain = [&] {
    while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) take(*frame, *ctx);
  };
  while (av_read_frame(fmt.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == si) avcodec_send_packet(ctx.get(), pkt.get());
    av_packet_unref(pkt.get());
    drain();
  }
  avcodec_send_packet(ctx.get(), nullptr);
  drain();
}

Reference decode_all(const std::string& path, int width, int height, bool direct_bgr24) {
  Reference ref;
  ref.width = width;
  ref.height = height;
  for_each_picture(path, [&](const AVFrame& frame, const AVCodecContext& ctx) {
    const int64_t next = ref.slots.empty() ? 0 : ref.slots.back() + 1;
    const int64_t slot =
        frame.pkt_dts == AV_NOPTS_VALUE ? next : frame.pkt_dts - ctx.has_b_frames;
    ref.slots.push_back(slot);
    ref.pictures.push_back(direct_bgr24 ? unpack_bgr24(&frame) : scaled(&frame, width, height));
  });
  return ref;
}

const std::vector<uint32_t>& shown_at(const Reference& ref, int64_t slot) {
  size_t i = 0;
  while (i + 1 < ref.slots.size() && ref.slots[i + 1] <= slot) ++i;
  return ref.pictures.at(i);
}

std::vector<uint8_t> converted_with(const AVFrame& frame, int matrix, bool full_range,
                                    int target, int flags, int width, int height) {
  const auto format = static_cast<AVPixelFormat>(target);
  if (width <= 0 || height <= 0) width = frame.width, height = frame.height;
  decode::ScalerPtr sws(sws_getContext(frame.width, frame.height,
                                     static_cast<AVPixelFormat>(frame.format), width,
                                     height, format, flags, nullptr, nullptr, nullptr));
  decode::FramePtr out = decode::new_frame();
  if (!sws || !out) throw std::runtime_error("no scaler");
  const int* coefficients = sws_getCoefficients(matrix);
  int* inv_table = nullptr;
  int* table = nullptr;
  int src_range = 0, dst_range = 0, brightness = 0, contrast = 0, saturation = 0;
  sws_getColorspaceDetails(sws.get(), &inv_table, &src_range, &table, &dst_range, &brightness,
                           &contrast, &saturation);
  sws_setColorspaceDetails(sws.get(), coefficients, full_range ? 1 : 0, table, dst_range,
                           brightness, contrast, saturation);
  out->format = format;
  out->width = width;
  out->height = height;
  if (av_frame_get_buffer(out.get(), 0) < 0) throw std::runtime_error("no memory");
  sws_scale(sws.get(), frame.data, frame.linesize, 0, frame.height, out->data, out->linesize);
  const size_t row = static_cast<size_t>(width) * av_get_padded_bits_per_pixel(av_pix_fmt_desc_get(format)) / 8;
  std::vector<uint8_t> packed(row * height);
  for (int y = 0; y < height; ++y)
    std::copy_n(out->data[0] + static_cast<ptrdiff_t>(y) * out->linesize[0], row,
                packed.data() + row * y);
  return packed;
}


}  // namespace velmora_test
