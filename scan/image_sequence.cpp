// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/image_sequence.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

extern "C" {
#include <libavutil/display.h>
}

#include "scan/image_orientation.h"
#include "scan/jpeg_area.h"
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

ImageSequence::~ImageSequence() {
  // The threads decoding ahead use this object's decoders: they end first.
  for (Ahead& a : ahead_)
    if (a.valid()) a.wait();
}

decode::Opening<std::unique_ptr<ImageSequence>> ImageSequence::open(
    std::vector<std::string> files, int threads) {
  std::unique_ptr<ImageSequence> sequence(new ImageSequence(std::move(files)));
  sequence->threads_ = std::max(1, threads);
  Decoder decoder;
  for (size_t i = 0; i < sequence->files_.size(); ++i) {
    if (!sequence->decode_file(sequence->files_[i], decoder, sequence->scratch_.get(), nullptr))
      continue;
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
    } else if (std::optional<decode::DisplayMatrix> own =
                   image_orientation(sequence->files_[i])) {
      // Other formats' orientation FFmpeg's decoders leave to us.
      sequence->display_ = *own;
    }
    av_frame_move_ref(sequence->first_.get(), sequence->scratch_.get());
    return sequence;
  }
  return decode::open_failure(decode::OpenProblem::no_picture,
                              "no image of the sequence decodes");
}

void ImageSequence::read_only(Rect area) {
  // Several slits: one area that holds them all.
  if (area_) {
    const int right = std::max(area_->x + area_->width, area.x + area.width);
    const int bottom = std::max(area_->y + area_->height, area.y + area.height);
    area = Rect{std::min(area_->x, area.x), std::min(area_->y, area.y), 0, 0};
    area.width = right - area.x;
    area.height = bottom - area.y;
  }
  area_ = area;
}

bool ImageSequence::decode_file(const std::string& path, Decoder& d, AVFrame* out,
                                const Rect* area) const {
  av_packet_unref(d.packet.get());
  av_frame_unref(out);
  if (!read_file(path, d.packet.get())) return false;
  const AVCodecID id = codec_of(d.packet->data, d.packet->size);
  if (id == AV_CODEC_ID_NONE) return false;
  // What libjpeg-turbo cannot take exactly (progressive, another size, damage) goes to
  // FFmpeg's decoder below.
  if (id == AV_CODEC_ID_MJPEG && area != nullptr) {
    if (!d.jpeg) d.jpeg = std::make_shared<JpegArea>(width_, height_, *area);
    if (d.jpeg->decode(d.packet->data, static_cast<size_t>(d.packet->size), *out)) {
      av_packet_unref(d.packet.get());
      return true;
    }
  }
  if (id != d.id || !d.codec) {
    d.codec.reset();
    d.id = AV_CODEC_ID_NONE;
    const AVCodec* decoder = avcodec_find_decoder(id);
    if (decoder == nullptr) return false;
    decode::CodecPtr context(avcodec_alloc_context3(decoder));
    if (!context) return false;
    context->thread_count = 1;  // images are decoded side by side instead
    if (avcodec_open2(context.get(), decoder, nullptr) < 0) return false;
    d.codec = std::move(context);
    d.id = id;
  }
  const int sent = avcodec_send_packet(d.codec.get(), d.packet.get());
  av_packet_unref(d.packet.get());
  int got = sent < 0 ? sent : avcodec_receive_frame(d.codec.get(), out);
  if (got == AVERROR(EAGAIN)) {
    avcodec_send_packet(d.codec.get(), nullptr);
    got = avcodec_receive_frame(d.codec.get(), out);
    avcodec_flush_buffers(d.codec.get());
  }
  if (got < 0 || out->decode_error_flags != 0 || (out->flags & AV_FRAME_FLAG_CORRUPT)) {
    // A decoder left halfway through a broken image starts the next one afresh.
    avcodec_flush_buffers(d.codec.get());
    av_frame_unref(out);
    return false;
  }
  return true;
}

ImageSequence::Ahead ImageSequence::decode_ahead(int64_t index) {
  std::shared_ptr<Decoder> decoder;
  {
    std::lock_guard<std::mutex> lock(idle_mutex_);
    if (!idle_.empty()) {
      decoder = std::move(idle_.back());
      idle_.pop_back();
    }
  }
  if (!decoder) decoder = std::make_shared<Decoder>();
  auto work = [this, index, decoder] {
    decode::FramePtr picture = decode::new_frame();
    if (!decode_file(files_[static_cast<size_t>(index)], *decoder, picture.get(),
                     area_ ? &*area_ : nullptr))
      picture.reset();
    std::lock_guard<std::mutex> lock(idle_mutex_);
    idle_.push_back(decoder);
    return picture;
  };
  try {
    // One thread: decoded when asked for, on the run's own thread, with no thread started.
    return std::async(threads_ > 1 ? std::launch::async : std::launch::deferred, work);
  } catch (const std::system_error&) {
    // No thread to be had: this one decodes it now.
    std::promise<decode::FramePtr> done;
    done.set_value(work());
    return done.get_future();
  }
}

void ImageSequence::look_ahead() {
  while (static_cast<int>(ahead_.size()) < threads_ && ahead_end_ < choice_.to) {
    ahead_.push_back(decode_ahead(ahead_end_));
    ahead_end_ = after(ahead_end_);
  }
}

bool ImageSequence::choose(FrameChoice choice) {
  choice_ = choice;
  next_wanted_ = choice_.only.empty() ? choice.from : choice_.only.front();
  ahead_end_ = next_wanted_;
  return choice.every > 0;
}

// The chosen frame after `frame`, or choice_.to.
int64_t ImageSequence::after(int64_t frame) const {
  if (!choice_.only.empty()) {
    auto next = std::upper_bound(choice_.only.begin(), choice_.only.end(), frame);
    return next == choice_.only.end() ? choice_.to : std::min(*next, choice_.to);
  }
  return choice_.every < choice_.to - frame ? frame + choice_.every : choice_.to;
}

const AVFrame* ImageSequence::next(int64_t& frame) {
  if (next_wanted_ >= choice_.to || !failure_.empty()) return nullptr;
  const size_t index = static_cast<size_t>(next_wanted_);
  look_ahead();
  decode::FramePtr picture = ahead_.front().get();
  ahead_.pop_front();
  const bool repeat = picture == nullptr;
  if (picture) {
    if (picture->width != width_ || picture->height != height_) {
      failure_ = files_[index] + ": an image of " + size_text(picture->width, picture->height) +
                 ", not " + size_text(width_, height_) + " as the first image " +
                 files_.front() + " (all images must have one size)";
      return nullptr;
    }
    shown_ = std::move(picture);
  } else {
    ++damaged_;
    if (first_damaged_.empty()) first_damaged_ = files_[index];
    // Nothing good before it: the first image that decodes stands in.
    if (shown_->data[0] == nullptr) av_frame_ref(shown_.get(), first_.get());
  }
  frame = next_wanted_;
  stamp_ = FrameStamp{frame, static_cast<double>(frame) / sequence_fps, files_[index],
                      repeat};
  next_wanted_ = after(next_wanted_);
  return shown_.get();
}

}  // namespace scan
