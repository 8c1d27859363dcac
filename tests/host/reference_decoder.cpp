#include "reference_decoder.h"

#include "host/frame_scaler.h"

#include <filesystem>
#include <stdexcept>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace testing_support {
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
  host::FrameScaler scaler;
  if (!scaler.scale(f, out.data(), width, height, width)) throw std::runtime_error("no scaler");
  return out;
}

}  // namespace

Reference decode_all(const std::string& path, int width, int height, bool direct_bgr24) {
  Reference ref;
  ref.width = width;
  ref.height = height;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) throw std::runtime_error("open");
  avformat_find_stream_info(fmt, nullptr);
  int si = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const AVCodec* codec = avcodec_find_decoder(fmt->streams[si]->codecpar->codec_id);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(ctx, fmt->streams[si]->codecpar);
  ctx->thread_count = 1;
  avcodec_open2(ctx, codec, nullptr);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto take = [&] {
    while (avcodec_receive_frame(ctx, frame) == 0) {
      int64_t slot = frame->pkt_dts == AV_NOPTS_VALUE ? ref.slots.back() + 1
                                                       : frame->pkt_dts - ctx->has_b_frames;
      ref.slots.push_back(slot);
      ref.pictures.push_back(direct_bgr24 ? unpack_bgr24(frame) : scaled(frame, width, height));
    }
  };
  while (av_read_frame(fmt, pkt) >= 0) {
    if (pkt->stream_index == si) avcodec_send_packet(ctx, pkt);
    av_packet_unref(pkt);
    take();
  }
  avcodec_send_packet(ctx, nullptr);
  take();
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&ctx);
  avformat_close_input(&fmt);
  return ref;
}

const std::vector<uint32_t>& shown_at(const Reference& ref, int64_t slot) {
  size_t i = 0;
  while (i + 1 < ref.slots.size() && ref.slots[i + 1] <= slot) ++i;
  return ref.pictures.at(i);
}

namespace {
std::filesystem::path& temp_dir() {
  static std::filesystem::path dir;
  return dir;
}
void remove_temp_dir() {
  std::error_code ec;
  std::filesystem::remove_all(temp_dir(), ec);
}
}  // namespace

std::string temp_path(const std::string& name) {
  if (temp_dir().empty()) {
    temp_dir() = std::filesystem::temp_directory_path() / ("velmora-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(temp_dir());
    std::atexit(remove_temp_dir);
  }
  return (temp_dir() / name).string();
}

}  // namespace testing_support
