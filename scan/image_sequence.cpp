// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/image_sequence.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/display.h>
}

#include "scan/slit_scaler.h"

namespace scan {
namespace {

// The format by the file's first bytes, not its name: a PNG named .jpg still decodes.
AVCodecID codec_of(const uint8_t* b, int size) {
  if (size >= 3 && b[0] == 0xff && b[1] == 0xd8 && b[2] == 0xff) return AV_CODEC_ID_MJPEG;
  if (size >= 8 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0) return AV_CODEC_ID_PNG;
  if (size >= 4 && (std::memcmp(b, "II*\0", 4) == 0 || std::memcmp(b, "MM\0*", 4) == 0))
    return AV_CODEC_ID_TIFF;
  if (size >= 12 && std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WEBP", 4) == 0)
    return AV_CODEC_ID_WEBP;
  if (size >= 2 && b[0] == 'B' && b[1] == 'M') return AV_CODEC_ID_BMP;
  return AV_CODEC_ID_NONE;
}

// The whole file into `packet`, padded as decoders want; false when it cannot be read.
bool read_file(const std::string& path, AVPacket* packet) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bool ok = std::fseek(file, 0, SEEK_END) == 0;
  const long size = ok ? std::ftell(file) : -1;
  ok = size > 0 && size < (1L << 30) && std::fseek(file, 0, SEEK_SET) == 0 &&
       av_new_packet(packet, static_cast<int>(size)) == 0;
  if (ok) {
    ok = std::fread(packet->data, 1, static_cast<size_t>(size), file) == static_cast<size_t>(size);
    packet->flags |= AV_PKT_FLAG_KEY;
  }
  std::fclose(file);
  return ok;
}

std::string size_text(int width, int height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

}  // namespace

ImageSequence::ImageSequence(std::vector<std::string> files) : files_(std::move(files)) {
  frames_.count = static_cast<int64_t>(files_.size());
  frames_.fps = sequence_fps;
  frames_.clock.rate = AVRational{static_cast<int>(sequence_fps), 1};
  frames_.clock.time_base = AVRational{1, static_cast<int>(sequence_fps)};
}

decode::Opening<std::unique_ptr<ImageSequence>> ImageSequence::open(
    std::vector<std::string> files) {
  std::unique_ptr<ImageSequence> sequence(new ImageSequence(std::move(files)));
  for (size_t i = 0; i < sequence->files_.size(); ++i) {
    if (!sequence->decode_image(i)) continue;
    const AVFrame* first = sequence->scratch_.get();
    sequence->width_ = first->width;
    sequence->height_ = first->height;
    sequence->deep_ = deep_pixel_format(first->format);
    // FFmpeg turns a JPEG's EXIF orientation into the picture's display matrix.
    if (const AVFrameSideData* side =
            av_frame_get_side_data(first, AV_FRAME_DATA_DISPLAYMATRIX);
        side != nullptr && side->size >= 9 * sizeof(int32_t)) {
      sequence->display_ =
          decode::read_display_matrix(reinterpret_cast<const int32_t*>(side->data));
    }
    av_frame_move_ref(sequence->first_.get(), sequence->scratch_.get());
    return sequence;
  }
  return decode::open_failure(decode::OpenProblem::no_picture,
                              "no image of the sequence decodes");
}

bool ImageSequence::decode_image(size_t index) {
  av_packet_unref(packet_.get());
  av_frame_unref(scratch_.get());
  if (!read_file(files_[index], packet_.get())) return false;
  const AVCodecID id = codec_of(packet_->data, packet_->size);
  if (id == AV_CODEC_ID_NONE) return false;
  if (id != codec_id_ || !codec_) {
    codec_.reset();
    codec_id_ = AV_CODEC_ID_NONE;
    const AVCodec* decoder = avcodec_find_decoder(id);
    if (decoder == nullptr) return false;
    decode::CodecPtr context(avcodec_alloc_context3(decoder));
    if (!context) return false;
    context->thread_count = 1;  // one picture at a time: threads only add a delay here
    if (avcodec_open2(context.get(), decoder, nullptr) < 0) return false;
    codec_ = std::move(context);
    codec_id_ = id;
  }
  int sent = avcodec_send_packet(codec_.get(), packet_.get());
  int got = sent < 0 ? sent : avcodec_receive_frame(codec_.get(), scratch_.get());
  if (got == AVERROR(EAGAIN)) {
    avcodec_send_packet(codec_.get(), nullptr);
    got = avcodec_receive_frame(codec_.get(), scratch_.get());
    avcodec_flush_buffers(codec_.get());
  }
  if (got < 0 || (scratch_->decode_error_flags != 0) ||
      (scratch_->flags & AV_FRAME_FLAG_CORRUPT)) {
    // A decoder left halfway through a broken image starts the next one afresh.
    avcodec_flush_buffers(codec_.get());
    av_frame_unref(scratch_.get());
    return false;
  }
  return true;
}

bool ImageSequence::choose(FrameChoice choice) {
  choice_ = choice;
  next_wanted_ = choice.from;
  return choice.every > 0;
}

// Images are decoded one by one, so one that is not needed costs nothing.
bool ImageSequence::pass() {
  if (next_wanted_ >= choice_.to || !failure_.empty()) return false;
  next_wanted_ =
      choice_.every < choice_.to - next_wanted_ ? next_wanted_ + choice_.every : choice_.to;
  return true;
}

const AVFrame* ImageSequence::next(int64_t& frame) {
  if (next_wanted_ >= choice_.to || !failure_.empty()) return nullptr;
  const size_t index = static_cast<size_t>(next_wanted_);
  if (decode_image(index)) {
    if (scratch_->width != width_ || scratch_->height != height_) {
      failure_ = files_[index] + ": an image of " + size_text(scratch_->width, scratch_->height) +
                 ", not " + size_text(width_, height_) + " as the first image " +
                 files_.front() + " (all images must have one size)";
      return nullptr;
    }
    av_frame_unref(shown_.get());
    av_frame_move_ref(shown_.get(), scratch_.get());
  } else {
    ++damaged_;
    if (first_damaged_.empty()) first_damaged_ = files_[index];
    // Nothing good before it: the first image that decodes stands in.
    if (shown_->data[0] == nullptr) av_frame_ref(shown_.get(), first_.get());
  }
  frame = next_wanted_;
  stamp_ = FrameStamp{frame, static_cast<double>(frame) / sequence_fps, files_[index]};
  next_wanted_ =
      choice_.every < choice_.to - next_wanted_ ? next_wanted_ + choice_.every : choice_.to;
  return shown_.get();
}

}  // namespace scan
