// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/clipwriter/clip_writer.h"

#include "tools/clipwriter/encoder_handles.h"

#include <algorithm>

#include "base/result.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/opt.h>
}

namespace clipwriter {
namespace {

AVCodecID codec_id(Codec codec) {
  switch (codec) {
    case Codec::rgb: return AV_CODEC_ID_RAWVIDEO;
    case Codec::mjpeg: return AV_CODEC_ID_MJPEG;
    case Codec::mpeg4: return AV_CODEC_ID_MPEG4;
    case Codec::h264: return AV_CODEC_ID_H264;
    case Codec::ffv1: return AV_CODEC_ID_FFV1;
  }
  return AV_CODEC_ID_NONE;
}

AVPixelFormat stored_format(const ClipSpec& spec) {
  switch (spec.codec) {
    case Codec::rgb: return AV_PIX_FMT_BGR24;
    case Codec::mjpeg: return AV_PIX_FMT_YUVJ420P;
    case Codec::mpeg4:
    case Codec::h264: return AV_PIX_FMT_YUV420P;
    case Codec::ffv1: return spec.ten_bit ? AV_PIX_FMT_YUV420P10 : AV_PIX_FMT_YUV420P;
  }
  return AV_PIX_FMT_NONE;
}

// FFmpeg's names for the clip's colour: matrix, primaries, transfer.
struct Colour {
  AVColorSpace matrix;
  AVColorPrimaries primaries;
  AVColorTransferCharacteristic transfer;
};

Colour colour_of(Matrix matrix) {
  switch (matrix) {
    case Matrix::untagged: break;
    case Matrix::bt601: return {AVCOL_SPC_SMPTE170M, AVCOL_PRI_SMPTE170M, AVCOL_TRC_SMPTE170M};
    case Matrix::bt709: return {AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709};
    case Matrix::bt2020: return {AVCOL_SPC_BT2020_NCL, AVCOL_PRI_BT2020, AVCOL_TRC_BT2020_10};
  }
  return {AVCOL_SPC_UNSPECIFIED, AVCOL_PRI_UNSPECIFIED, AVCOL_TRC_UNSPECIFIED};
}

base::Status check_join(const ClipSpec& spec) {
  const ClipSpec::Join& join = spec.join;
  if (join.at == 0) return {};
  if (join.at < 0 || join.at >= spec.frames)
    return base::failed("a clip is joined at one of its frames");
  if (join.width <= 0 || join.height <= 0 || join.width > 8192 || join.height > 8192 ||
      join.width % 2 != 0 || join.height % 2 != 0)
    return base::failed("the joined part's frame size must be even and 2..8192 on each side");
  if (spec.codec == Codec::ffv1) return {};
  // Only a stream that carries its headers in its packets can change them midway.
  if (spec.container != "mpegts") return base::failed("joined clips are MPEG-TS or FFV1");
  if (spec.codec != Codec::h264 && spec.codec != Codec::mpeg4)
    return base::failed("joined clips are H.264 or MPEG-4");
  // A fresh encoder's first decoding time would fall behind the last one written.
  if (spec.b_frames != 0) return base::failed("joined clips have no B-frames");
  return {};
}

base::Status check_spec(const ClipSpec& spec) {
  if (spec.width <= 0 || spec.height <= 0 || spec.width > 8192 || spec.height > 8192)
    return base::failed("frame size must be 1..8192 on each side");
  // The lossy codecs sample colour in 2x2 blocks.
  if (spec.codec != Codec::rgb && (spec.width % 2 != 0 || spec.height % 2 != 0))
    return base::failed("MJPEG and MPEG-4 clips need an even width and height");
  if (spec.frames <= 0) return base::failed("a clip needs at least one frame");
  if (spec.fps_num <= 0 || spec.fps_den <= 0) return base::failed("frame rate must be positive");
  if (spec.gop <= 0 || spec.b_frames < 0 || spec.b_frames > 16)
    return base::failed("keyframe distance must be positive and B-frames 0..16");
  if (!spec.ticks.empty() &&
      (spec.ticks.size() != static_cast<size_t>(spec.frames) || spec.ticks_per_second <= 0 ||
       !std::is_sorted(spec.ticks.begin(), spec.ticks.end())))
    return base::failed("variable-rate ticks need one rising time a frame and ticks per second");
  if (spec.ten_bit && spec.codec != Codec::ffv1) return base::failed("10-bit clips are FFV1");
  if (spec.ffv1_gop <= 0) return base::failed("FFV1's keyframe distance must be positive");
  if (spec.rotation < 0 || spec.rotation >= 360)
    return base::failed("the display rotation must be 0 to 359 degrees");
  // Other containers would drop the matrix without a word.
  if ((spec.rotation != 0 || spec.mirror) && spec.container != "mp4" && spec.container != "mov")
    return base::failed("only MP4 and MOV clips keep a display rotation");
  if ((spec.matrix != Matrix::untagged || spec.full_range) && spec.codec == Codec::rgb)
    return base::failed("RGB clips have no colour matrix or range");
  return check_join(spec);
}

// The stream's display matrix, for the muxer to write into the track header.
base::Status set_display_matrix(AVStream* stream, const ClipSpec& spec) {
  if (spec.rotation == 0 && !spec.mirror) return {};
  auto* matrix = reinterpret_cast<int32_t*>(
      av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
  if (matrix == nullptr) return base::failed("out of memory");
  av_display_rotation_set(matrix, spec.rotation);
  av_display_matrix_flip(matrix, spec.mirror, 0);
  return {};
}

class Writer {
 public:
  base::Status open(const std::string& path, const ClipSpec& spec, bool deep);
  base::Status write_frame(int index, const Painter& painter, const DeepPainter& deep);
  base::Status finish();

 private:
  base::Status open_codec(const ClipSpec& spec);
  base::Status make_pictures(const ClipSpec& spec, bool deep);
  base::Status join(const ClipSpec& spec, bool deep);
  base::Status drain(bool flushing);
  void paint(int index, const Painter& painter);
  void paint_deep(int index, const DeepPainter& painter);
  int64_t pts_of(int index) const;

  OutputPtr output_;
  CodecPtr codec_;
  AVStream* stream_ = nullptr;
  FramePtr rgb_;      // painted pixels, BGR24 (RGB48 for a deep painter)
  FramePtr encoded_;  // what the codec takes
  ScalerPtr scaler_;
  PacketPtr packet_{av_packet_alloc()};
  std::vector<int64_t> ticks_;
  ClipSpec joined_;  // the part after the join, when there is one
  bool deep_ = false;
};

base::Status Writer::open_codec(const ClipSpec& spec) {
  const AVCodec* encoder = avcodec_find_encoder(codec_id(spec.codec));
  if (encoder == nullptr) return base::failed("this FFmpeg has no encoder for the codec asked for");
  codec_.reset(avcodec_alloc_context3(encoder));
  if (!codec_) return base::failed("out of memory");
  AVCodecContext* c = codec_.get();
  c->width = spec.width;
  c->height = spec.height;
  c->time_base = spec.ticks.empty() ? AVRational{spec.fps_den, spec.fps_num}
                                     : AVRational{1, spec.ticks_per_second};
  c->framerate = AVRational{spec.fps_num, spec.fps_den};
  c->pix_fmt = stored_format(spec);
  const Colour colour = colour_of(spec.matrix);
  c->colorspace = colour.matrix;
  c->color_primaries = colour.primaries;
  c->color_trc = colour.transfer;
  if (spec.full_range || spec.matrix != Matrix::untagged)
    c->color_range = spec.full_range || spec.codec == Codec::mjpeg ? AVCOL_RANGE_JPEG
                                                                    : AVCOL_RANGE_MPEG;
  const bool long_gop = spec.codec == Codec::mpeg4 || spec.codec == Codec::h264;
  c->gop_size = long_gop ? spec.gop : spec.codec == Codec::ffv1 ? spec.ffv1_gop : 1;
  c->max_b_frames = long_gop ? spec.b_frames : 0;
  if (spec.codec == Codec::h264) {
    // Quick to write, still a real long-GOP stream with B-frames that other B-frames use.
    av_opt_set(c->priv_data, "preset", "veryfast", 0);
    av_opt_set(c->priv_data, "crf", "20", 0);
    // B-frames and keyframes where asked, not where x264 finds them worth it.
    av_opt_set(c->priv_data, "x264-params", "b-adapt=0:scenecut=0", 0);
  } else if (spec.codec == Codec::ffv1) {
    c->level = 3;
  } else if (spec.codec != Codec::rgb) {
    // Fixed quality: good enough pictures at any size without tuning a bit rate.
    c->flags |= AV_CODEC_FLAG_QSCALE;
    c->global_quality = FF_QP2LAMBDA * 3;
  }
  if (output_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (int err = avcodec_open2(c, encoder, nullptr); err < 0)
    return base::failed(av_error_text("cannot open the encoder", err));
  return {};
}

// Painted pixels to what the encoder takes, with the clip's matrix and levels. JPEG's
// full-range format is named to libswscale as the plain one with full-range levels.
ScalerPtr make_scaler(const ClipSpec& spec, AVPixelFormat painted, AVPixelFormat encoded) {
  bool full_range = encoded == AV_PIX_FMT_YUVJ420P || spec.full_range;
  AVPixelFormat target = encoded == AV_PIX_FMT_YUVJ420P ? AV_PIX_FMT_YUV420P : encoded;
  ScalerPtr scaler(sws_getContext(spec.width, spec.height, painted, spec.width,
                                  spec.height, target, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr,
                                  nullptr, nullptr));
  if (scaler && (full_range || spec.matrix != Matrix::untagged)) {
    const int* coefficients = sws_getCoefficients(
        spec.matrix == Matrix::untagged ? SWS_CS_DEFAULT : colour_of(spec.matrix).matrix);
    sws_setColorspaceDetails(scaler.get(), coefficients, 0, coefficients, full_range ? 1 : 0, 0,
                             1 << 16, 1 << 16);
  }
  return scaler;
}

FramePtr make_frame(AVPixelFormat format, int width, int height) {
  FramePtr frame(av_frame_alloc());
  if (!frame) return frame;
  frame->format = format;
  frame->width = width;
  frame->height = height;
  if (av_frame_get_buffer(frame.get(), 0) < 0) frame.reset();
  return frame;
}

// The painted picture, and what the encoder takes when that differs, at the clip's size.
base::Status Writer::make_pictures(const ClipSpec& spec, bool deep) {
  const AVPixelFormat painted = deep ? AV_PIX_FMT_RGB48 : AV_PIX_FMT_BGR24;
  rgb_ = make_frame(painted, spec.width, spec.height);
  if (!rgb_) return base::failed("out of memory");
  if (spec.codec != Codec::rgb || deep) {
    encoded_ = make_frame(codec_->pix_fmt, spec.width, spec.height);
    scaler_ = make_scaler(spec, painted, codec_->pix_fmt);
    if (!encoded_ || !scaler_) return base::failed("out of memory");
  }
  return {};
}

// Ends the first part's encoder, pictures and all, and starts the second part's: the
// stream then holds two encodings back to back, as two files joined byte for byte do.
base::Status Writer::join(const ClipSpec& spec, bool deep) {
  if (int err = avcodec_send_frame(codec_.get(), nullptr); err < 0)
    return base::failed(av_error_text("cannot finish the first part", err));
  if (base::Status drained = drain(true); !drained) return drained;
  if (base::Status opened = open_codec(spec); !opened) return opened;
  return make_pictures(spec, deep);
}

base::Status Writer::open(const std::string& path, const ClipSpec& spec, bool deep) {
  if (!packet_) return base::failed("out of memory");
  ticks_ = spec.ticks;
  AVFormatContext* raw = nullptr;
  if (int err = avformat_alloc_output_context2(&raw, nullptr, spec.container.c_str(), path.c_str());
      err < 0)
    return base::failed(av_error_text("cannot set up the " + spec.container + " file", err));
  output_.reset(raw);
  stream_ = avformat_new_stream(raw, nullptr);
  if (stream_ == nullptr) return base::failed("out of memory");
  if (base::Status opened = open_codec(spec); !opened) return opened;
  if (int err = avcodec_parameters_from_context(stream_->codecpar, codec_.get()); err < 0)
    return base::failed(av_error_text("cannot describe the stream", err));
  stream_->time_base = codec_->time_base;
  stream_->avg_frame_rate = codec_->framerate;
  if (base::Status set = set_display_matrix(stream_, spec); !set) return set;
  if (base::Status made = make_pictures(spec, deep); !made) return made;
  deep_ = deep;
  if (spec.join.at > 0) {
    joined_ = spec;
    joined_.width = spec.join.width;
    joined_.height = spec.join.height;
  }
  if (int err = avio_open(&raw->pb, path.c_str(), AVIO_FLAG_WRITE); err < 0)
    return base::failed(av_error_text("cannot create " + path, err));
  AVDictionary* options = nullptr;
  if (spec.index_first) av_dict_set(&options, "movflags", "+faststart", 0);
  const int err = avformat_write_header(raw, &options);
  av_dict_free(&options);
  if (err < 0) return base::failed(av_error_text("cannot write the file's header", err));
  return {};
}

int64_t Writer::pts_of(int index) const {
  return ticks_.empty() ? index : ticks_[static_cast<size_t>(index)];
}

void Writer::paint_deep(int index, const DeepPainter& painter) {
  AVFrame* f = rgb_.get();
  for (int y = 0; y < f->height; ++y) {
    uint8_t* bytes = f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0];
    auto* row = reinterpret_cast<uint16_t*>(bytes);
    for (int x = 0; x < f->width; ++x) {
      std::array<uint16_t, 3> rgb = painter(index, x, y);
      for (int c = 0; c < 3; ++c) row[3 * x + c] = rgb[c];
    }
  }
}

void Writer::paint(int index, const Painter& painter) {
  AVFrame* f = rgb_.get();
  for (int y = 0; y < f->height; ++y) {
    uint8_t* row = f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0];
    for (int x = 0; x < f->width; ++x) {
      uint32_t rgb = painter(index, x, y);
      row[3 * x + 0] = rgb & 0xff;
      row[3 * x + 1] = (rgb >> 8) & 0xff;
      row[3 * x + 2] = (rgb >> 16) & 0xff;
    }
  }
}

base::Status Writer::write_frame(int index, const Painter& painter, const DeepPainter& deep) {
  if (index > 0 && index == joined_.join.at) {
    if (base::Status joined = join(joined_, deep_); !joined) return joined;
  }
  // The encoder may still hold a reference to the last frame's buffers.
  if (av_frame_make_writable(rgb_.get()) < 0) return base::failed("out of memory");
  if (deep) paint_deep(index, deep);
  else paint(index, painter);
  AVFrame* sent = rgb_.get();
  if (encoded_) {
    if (av_frame_make_writable(encoded_.get()) < 0) return base::failed("out of memory");
    sws_scale(scaler_.get(), rgb_->data, rgb_->linesize, 0, rgb_->height, encoded_->data,
              encoded_->linesize);
    sent = encoded_.get();
  }
  sent->pts = pts_of(index);
  if (int err = avcodec_send_frame(codec_.get(), sent); err < 0)
    return base::failed(av_error_text("cannot encode frame " + std::to_string(index), err));
  return drain(false);
}

base::Status Writer::drain(bool flushing) {
  for (;;) {
    int err = avcodec_receive_packet(codec_.get(), packet_.get());
    if (err == AVERROR(EAGAIN) || (flushing && err == AVERROR_EOF)) return {};
    if (err < 0) return base::failed(av_error_text("cannot encode", err));
    av_packet_rescale_ts(packet_.get(), codec_->time_base, stream_->time_base);
    packet_->stream_index = stream_->index;
    err = av_interleaved_write_frame(output_.get(), packet_.get());
    if (err < 0) return base::failed(av_error_text("cannot write a frame", err));
  }
}

base::Status Writer::finish() {
  if (int err = avcodec_send_frame(codec_.get(), nullptr); err < 0)
    return base::failed(av_error_text("cannot finish encoding", err));
  if (base::Status drained = drain(true); !drained) return drained;
  if (int err = av_write_trailer(output_.get()); err < 0)
    return base::failed(av_error_text("cannot write the file's index", err));
  return {};
}

base::Status write_any(const std::string& path, const ClipSpec& spec, const Painter& painter,
                       const DeepPainter& deep) {
  if (base::Status fits = check_spec(spec); !fits) return fits;
  if (!painter && !deep) return base::failed("no painter given");
  Writer writer;
  if (base::Status opened = writer.open(path, spec, static_cast<bool>(deep)); !opened)
    return opened;
  for (int i = 0; i < spec.frames; ++i) {
    if (base::Status wrote = writer.write_frame(i, painter, deep); !wrote) return wrote;
  }
  return writer.finish();
}

}  // namespace

base::Status write_avi(const std::string& path, const ClipSpec& spec, const Painter& painter) {
  ClipSpec avi = spec;
  avi.container = "avi";
  return write_any(path, avi, painter, nullptr);
}

base::Status write_clip(const std::string& path, const ClipSpec& spec, const Painter& painter) {
  return write_any(path, spec, painter, nullptr);
}

base::Status write_deep_clip(const std::string& path, const ClipSpec& spec,
                             const DeepPainter& painter) {
  return write_any(path, spec, nullptr, painter);
}

uint32_t test_pattern(int frame, int x, int y) {
  auto byte = [](int v) { return static_cast<uint32_t>(v) & 0xffu; };
  return byte(frame) << 16 | byte(x) << 8 | byte(y);
}

uint32_t colour_bars(int frame, int x, int) {
  constexpr uint32_t bars[] = {0xff0000, 0x00ff00, 0x0000ff, 0xffff00,
                               0x00ffff, 0xff00ff, 0xffffff, 0x401080};
  return bars[(x / 8 + frame) % 8];
}

}  // namespace clipwriter
