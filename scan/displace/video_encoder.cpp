// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/displace/video_encoder.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "base/stop_signals.h"
#include "base/text.h"
#include "decode/av_error.h"
#include "decode/ffmpeg_handles.h"
#include "scan/output/output_file.h"

namespace displace {
namespace {

using decode::av_error_text;

struct MuxerDeleter {
  void operator()(AVFormatContext* ctx) const { avformat_free_context(ctx); }
};
// An AVIOContext of our own callbacks: its buffer is ours to free as well.
struct CustomIoDeleter {
  void operator()(AVIOContext* io) const {
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};
struct DictDeleter {
  void operator()(AVDictionary* dict) const { av_dict_free(&dict); }
};

int write_to(void* opaque, uint8_t* data, int size) {
  std::FILE* file = static_cast<std::FILE*>(opaque);
  return std::fwrite(data, 1, size_t(size), file) == size_t(size) ? size : AVERROR(EIO);
}

int64_t seek_in(void* opaque, int64_t offset, int whence) {
  std::FILE* file = static_cast<std::FILE*>(opaque);
  if (whence == AVSEEK_SIZE) {
    const off_t here = ftello(file);
    if (fseeko(file, 0, SEEK_END) != 0) return AVERROR(EIO);
    const off_t size = ftello(file);
    return fseeko(file, here, SEEK_SET) == 0 ? size : AVERROR(EIO);
  }
  if (fseeko(file, offset, whence & ~AVSEEK_FORCE) != 0) return AVERROR(EIO);
  return ftello(file);
}

}  // namespace

bool video_suffix(const std::string& output) {
  const std::string name = std::filesystem::path(output).filename().string();
  for (const char* tail : {".mkv", ".mp4", ".mov", ".webm", ".nut"})
    if (name.size() > std::strlen(tail) && base::ends_with_ignoring_case(name, tail)) return true;
  return false;
}

struct VideoEncoder::State {
  EncoderSetting setting;
  std::unique_ptr<scan::TempOutput> file;  // none for standard output
  std::unique_ptr<AVFormatContext, MuxerDeleter> muxer;
  std::unique_ptr<AVIOContext, CustomIoDeleter> io;
  decode::CodecPtr codec;
  decode::ScalerPtr scaler;  // when the encoder does not take the input's pixel format
  decode::FramePtr converted;
  decode::PacketPtr packet = decode::new_packet();
  AVStream* stream = nullptr;  // the muxer's

  base::Status drain() {
    for (;;) {
      const int got = avcodec_receive_packet(codec.get(), packet.get());
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return {};
      if (got < 0) return base::failed(av_error_text(setting.output + ": cannot encode", got));
      av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
      if (const int put = av_interleaved_write_frame(muxer.get(), packet.get()); put < 0)
        return base::failed(av_error_text(setting.output + ": cannot write", put));
    }
  }
};

VideoEncoder::VideoEncoder(std::unique_ptr<State> state) : s_(std::move(state)) {}
VideoEncoder::~VideoEncoder() = default;

bool VideoEncoder::converts() const { return s_->scaler != nullptr; }

base::Result<std::unique_ptr<VideoEncoder>, base::Error> VideoEncoder::open(
    const EncoderSetting& setting, const AVFrame& first) {
  auto s = std::make_unique<State>();
  s->setting = setting;
  const std::string& out = setting.output;
  const AVCodec* codec = avcodec_find_encoder_by_name(setting.codec.c_str());
  if (codec == nullptr || codec->type != AVMEDIA_TYPE_VIDEO)
    return base::failed("--codec " + setting.codec + ": this FFmpeg has no such video encoder");
  const bool to_stdout = out == "-";
  const AVOutputFormat* format =
      av_guess_format(to_stdout ? "matroska" : nullptr, to_stdout ? nullptr : out.c_str(), nullptr);
  if (format == nullptr) return base::failed(out + ": this FFmpeg cannot write such a clip");
  if (avformat_query_codec(format, codec->id, FF_COMPLIANCE_NORMAL) == 0)
    return base::failed(out + ": the " + format->name + " container cannot hold " + codec->name);
  AVFormatContext* muxer = nullptr;
  if (const int made = avformat_alloc_output_context2(&muxer, format, nullptr, nullptr); made < 0)
    return base::failed(av_error_text(out + ": cannot start the clip", made));
  s->muxer.reset(muxer);

  const auto in_format = static_cast<AVPixelFormat>(first.format);
  AVPixelFormat pix = in_format;
  if (codec->pix_fmts != nullptr) {
    bool takes = false;
    for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) takes |= *f == in_format;
    if (!takes) pix = avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, in_format, 0, nullptr);
  }
  s->codec.reset(avcodec_alloc_context3(codec));
  AVCodecContext* c = s->codec.get();
  c->width = first.width;
  c->height = first.height;
  c->pix_fmt = pix;
  c->time_base = setting.time_base;
  c->framerate = setting.frame_rate;
  c->sample_aspect_ratio = first.sample_aspect_ratio;
  c->color_range = first.color_range;
  c->color_primaries = first.color_primaries;
  c->color_trc = first.color_trc;
  c->colorspace = first.colorspace;
  c->chroma_sample_location = first.chroma_location;
  c->thread_count = setting.threads;
  if ((format->flags & AVFMT_GLOBALHEADER) != 0) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  c->flags |= AV_CODEC_FLAG_BITEXACT;
  if (pix != in_format) {
    s->scaler.reset(sws_getContext(first.width, first.height, in_format, first.width, first.height,
                                   pix, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    s->converted = decode::new_frame();
    s->converted->format = pix;
    s->converted->width = first.width;
    s->converted->height = first.height;
    if (!s->scaler || av_frame_get_buffer(s->converted.get(), 0) < 0)
      return base::failed("--codec " + setting.codec + ": cannot convert the frames to " +
                          av_get_pix_fmt_name(pix));
  }

  AVDictionary* given = nullptr;
  const bool has_crf = codec->priv_class != nullptr &&
                       av_opt_find(const_cast<AVClass**>(&codec->priv_class), "crf", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
  if (setting.crf_given && !has_crf)
    return base::failed("--crf: the encoder " + setting.codec + " takes no crf");
  if (has_crf) av_dict_set_int(&given, "crf", setting.crf, 0);
  for (const auto& [key, value] : setting.options) av_dict_set(&given, key.c_str(), value.c_str(), 0);
  std::unique_ptr<AVDictionary, DictDeleter> held(given);
  AVDictionary* left = held.release();
  const int opened = [&] {
    const base::StopSignalsHeld held;
    return avcodec_open2(c, codec, &left);
  }();
  held.reset(left);
  if (opened < 0)
    return base::failed(av_error_text("--codec " + setting.codec + ": cannot open the encoder", opened));
  if (const AVDictionaryEntry* unknown = av_dict_get(left, "", nullptr, AV_DICT_IGNORE_SUFFIX))
    return base::failed(std::string("--encoder-option ") + unknown->key + "=" + unknown->value +
                        ": not an option of the encoder " + setting.codec);

  s->stream = avformat_new_stream(muxer, nullptr);
  if (s->stream == nullptr) return base::failed(out + ": cannot start the clip");
  if (const int copied = avcodec_parameters_from_context(s->stream->codecpar, c); copied < 0)
    return base::failed(av_error_text(out + ": cannot start the clip", copied));
  s->stream->time_base = c->time_base;
  s->stream->avg_frame_rate = setting.frame_rate;

  std::FILE* target = stdout;
  if (!to_stdout) {
    s->file = std::make_unique<scan::TempOutput>(out);
    if (base::Status made = s->file->create(); !made) return base::failure(made.error());
    target = s->file->stream();
  }
  constexpr int buffer_bytes = 1 << 16;
  auto* buffer = static_cast<unsigned char*>(av_malloc(buffer_bytes));
  AVIOContext* io = avio_alloc_context(buffer, buffer_bytes, 1, target, nullptr, write_to,
                                       to_stdout ? nullptr : seek_in);
  if (io == nullptr) {
    av_free(buffer);
    return base::failed(out + ": cannot start the clip");
  }
  s->io.reset(io);
  io->seekable = to_stdout ? 0 : AVIO_SEEKABLE_NORMAL;
  muxer->pb = io;
  // No random segment id or library version: the same input gives the same bytes.
  muxer->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_BITEXACT;
  if (const int header = avformat_write_header(muxer, nullptr); header < 0)
    return base::failed(av_error_text(out + ": cannot write the clip's header", header));
  return std::unique_ptr<VideoEncoder>(new VideoEncoder(std::move(s)));
}

base::Status VideoEncoder::write(const AVFrame& frame) {
  const AVFrame* sent = &frame;
  if (s_->scaler) {
    AVFrame* to = s_->converted.get();
    if (const int writable = av_frame_make_writable(to); writable < 0)
      return base::failed(av_error_text(s_->setting.output + ": cannot convert", writable));
    sws_scale(s_->scaler.get(), frame.data, frame.linesize, 0, frame.height, to->data, to->linesize);
    to->pts = frame.pts;
    sent = to;
  }
  if (const int took = avcodec_send_frame(s_->codec.get(), sent); took < 0)
    return base::failed(av_error_text(s_->setting.output + ": cannot encode", took));
  return s_->drain();
}

base::Status VideoEncoder::finish() {
  if (const int took = avcodec_send_frame(s_->codec.get(), nullptr); took < 0)
    return base::failed(av_error_text(s_->setting.output + ": cannot encode", took));
  if (base::Status drained = s_->drain(); !drained) return drained;
  if (const int ended = av_write_trailer(s_->muxer.get()); ended < 0)
    return base::failed(av_error_text(s_->setting.output + ": cannot end the clip", ended));
  avio_flush(s_->io.get());
  if (s_->io->error < 0)
    return base::failed(av_error_text(s_->setting.output + ": cannot write", s_->io->error));
  if (!s_->file) {
    if (std::fflush(stdout) != 0) return base::failed("-: cannot write to standard output");
    return {};
  }
  return s_->file->commit(s_->setting.force);
}

void VideoEncoder::discard() {
  if (s_->file) s_->file->discard();
}

}  // namespace displace
