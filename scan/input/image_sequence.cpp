// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/image_sequence.h"

#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <system_error>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
}

#include "decode/intra_pool.h"
#include "scan/input/exif_reader.h"
#include "scan/input/image_orientation.h"
#include "scan/input/jpeg_area.h"
#include "scan/slit/slit_scaler.h"

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

// The whole file into `packet`, padded as decoders want; otherwise why not (an errno, or
// EINVAL for an empty or oversized file).
int read_file(const std::string& path, AVPacket* packet) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return errno;
  bool ok = std::fseek(file, 0, SEEK_END) == 0;
  const long size = ok ? std::ftell(file) : -1;
  ok = size > 0 && size < (1L << 30) && std::fseek(file, 0, SEEK_SET) == 0 &&
       av_new_packet(packet, static_cast<int>(size)) == 0;
  if (ok) {
    ok = std::fread(packet->data, 1, static_cast<size_t>(size), file) == static_cast<size_t>(size);
    packet->flags |= AV_PKT_FLAG_KEY;
  }
  const int error = ok ? 0 : std::ferror(file) ? EIO : EINVAL;
  std::fclose(file);
  return error;
}

// Black in the frame's own pixel format where FFmpeg knows it, zero bytes elsewhere.
void fill_black(AVFrame* frame) {
  for (AVBufferRef* plane : frame->buf)
    if (plane != nullptr) std::memset(plane->data, 0, plane->size);
  const ptrdiff_t lines[4] = {frame->linesize[0], frame->linesize[1], frame->linesize[2],
                              frame->linesize[3]};
  av_image_fill_black(frame->data, lines, static_cast<AVPixelFormat>(frame->format),
                      frame->color_range, frame->width, frame->height);
}

// Pictures start black: where a damaged image's data runs out, the decoder leaves pixels
// it never wrote, which would otherwise be whatever an earlier picture left in the memory.
int black_buffer(AVCodecContext* context, AVFrame* frame, int flags) {
  if (const int got = avcodec_default_get_buffer2(context, frame, flags); got < 0) return got;
  fill_black(frame);
  return 0;
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
    std::vector<std::string> files, int threads, std::vector<long long> numbers, bool rotate) {
  std::unique_ptr<ImageSequence> sequence(new ImageSequence(std::move(files)));
  sequence->threads_ = std::max(1, threads);
  sequence->rotate_ = rotate;
  if (numbers.size() == sequence->files_.size() && !numbers.empty()) {
    // Pictures at their numbers' times, as a variable-rate clip's at their stamps.
    sequence->frames_.variable_rate = true;
    sequence->frames_.stamps.assign(numbers.begin(), numbers.end());
    sequence->numbers_ = std::move(numbers);
  }
  Decoder decoder;
  for (size_t i = 0; i < sequence->files_.size(); ++i) {
    Decoded first = sequence->decode_file(sequence->files_[i], decoder, nullptr);
    if (!first.picture) continue;
    const AVFrame* picture = first.picture.get();
    sequence->shape_ = PictureShape::of(*picture);
    sequence->orientation_ = first.orientation;
    if (std::optional<decode::DisplayMatrix> own = exif_orientation_matrix(first.orientation))
      sequence->display_ = *own;
    // The strip of an image that does not decode, where no picture comes before it.
    decode::FramePtr black = decode::new_frame();
    black->format = picture->format;
    black->width = picture->width;
    black->height = picture->height;
    black->color_range = picture->color_range;
    black->colorspace = picture->colorspace;
    if (av_frame_get_buffer(black.get(), 0) < 0)
      return decode::open_failure(decode::OpenProblem::no_picture, "out of memory");
    fill_black(black.get());
    sequence->black_ = std::move(black);
    return sequence;
  }
  return decode::open_failure(decode::OpenProblem::no_picture,
                              "no image of the sequence decodes");
}

base::Result<std::unique_ptr<ImageSequence>, base::Error> ImageSequence::shaped(
    std::vector<std::string> files, int threads, bool rotate, PictureShape shape,
    int orientation) {
  std::unique_ptr<ImageSequence> sequence(new ImageSequence(std::move(files)));
  sequence->threads_ = std::max(1, threads);
  sequence->rotate_ = rotate;
  sequence->shape_ = shape;
  sequence->orientation_ = orientation;
  if (std::optional<decode::DisplayMatrix> own = exif_orientation_matrix(orientation))
    sequence->display_ = *own;
  // Black as the cutter reads any RGB picture: the strip of an image that does not decode.
  decode::FramePtr black = decode::new_frame();
  black->format = shape.deep ? AV_PIX_FMT_RGB48BE : AV_PIX_FMT_RGB24;
  black->width = shape.width;
  black->height = shape.height;
  if (av_frame_get_buffer(black.get(), 0) < 0) return base::failed("out of memory");
  fill_black(black.get());
  sequence->black_ = std::move(black);
  return sequence;
}

void ImageSequence::read_only(Rect area) {
  // Several slits: one area that holds them all.
  if (area_) area = area_->united(area);
  area_ = area;
}

ImageSequence::Decoded ImageSequence::decode_file(const std::string& path, Decoder& d,
                                                  const Rect* area) const {
  Decoded result;
  av_packet_unref(d.packet.get());
  if (const int error = read_file(path, d.packet.get()); error != 0) {
    result.fate = error == EINVAL ? Fate::undecoded : Fate::unreadable;
    result.error = error;
    return result;
  }
  const AVCodecID id = codec_of(d.packet->data, d.packet->size);
  if (id == AV_CODEC_ID_NONE) return result;
  // One EXIF reader for every format (FFmpeg's reads a JPEG's by rules of its own).
  if (rotate_)
    result.orientation =
        read_exif({d.packet->data, static_cast<size_t>(d.packet->size)}).orientation.value_or(1);
  const bool cut_short = id == AV_CODEC_ID_MJPEG &&
                         jpeg_ends_early(d.packet->data, static_cast<size_t>(d.packet->size));
  decode::FramePtr out = decode::new_frame();
  // What libjpeg-turbo cannot take exactly (progressive, another size, damage) goes to
  // FFmpeg's decoder below.
  // An image turned otherwise than the first is needed whole, to be laid as the first.
  if (result.orientation != orientation_) area = nullptr;
  if (id == AV_CODEC_ID_MJPEG && area != nullptr) {
    if (!d.jpeg) d.jpeg = std::make_shared<JpegArea>(shape_.width, shape_.height, *area);
    if (d.jpeg->decode(d.packet->data, static_cast<size_t>(d.packet->size), *out)) {
      av_packet_unref(d.packet.get());
      result.picture = std::move(out);
      result.fate = cut_short ? Fate::damaged : Fate::whole;
      return result;
    }
  }
  // A decoder of its own for each image: nothing of an earlier image (its tables, its
  // pictures) can show through in this one, whichever thread decodes which.
  const AVCodec* decoder = avcodec_find_decoder(id);
  if (decoder == nullptr) return result;
  decode::CodecPtr context(avcodec_alloc_context3(decoder));
  if (!context) return result;
  context->thread_count = 1;  // images are decoded side by side instead
  context->get_buffer2 = black_buffer;
  if (avcodec_open2(context.get(), decoder, nullptr) < 0) return result;
  const int sent = avcodec_send_packet(context.get(), d.packet.get());
  av_packet_unref(d.packet.get());
  int got = sent < 0 ? sent : avcodec_receive_frame(context.get(), out.get());
  if (got == AVERROR(EAGAIN)) {
    avcodec_send_packet(context.get(), nullptr);
    got = avcodec_receive_frame(context.get(), out.get());
  }
  if (got < 0 || decode::damaged_picture(*out)) return result;
  result.picture = std::move(out);
  result.fate = cut_short ? Fate::damaged : Fate::whole;
  return result;
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
    Decoded decoded =
        decode_file(files_[static_cast<size_t>(index)], *decoder, area_ ? &*area_ : nullptr);
    std::lock_guard<std::mutex> lock(idle_mutex_);
    idle_.push_back(decoder);
    return decoded;
  };
  try {
    // One thread: decoded when asked for, on the run's own thread, with no thread started.
    return std::async(threads_ > 1 ? std::launch::async : std::launch::deferred, work);
  } catch (const std::system_error&) {
    // No thread to be had: this one decodes it now.
    std::promise<Decoded> done;
    done.set_value(work());
    return done.get_future();
  }
}

void ImageSequence::look_ahead() {
  const auto listed = static_cast<int64_t>(files_.size());
  while (static_cast<int>(ahead_.size()) < threads_ && ahead_end_ < choice_.to &&
         ahead_end_ < listed) {
    ahead_.push_back(decode_ahead(ahead_end_));
    ahead_end_ = choice_.read_after(ahead_end_);
  }
}

bool ImageSequence::choose(FrameChoice choice) {
  choice_ = choice;
  next_wanted_ = choice_.only.empty() ? choice.from : choice_.only.front();
  ahead_end_ = next_wanted_;
  return choice.every > 0;
}

const AVFrame* ImageSequence::next(int64_t& frame) {
  if (next_wanted_ >= choice_.to || next_wanted_ >= static_cast<int64_t>(files_.size()) ||
      failure_)
    return nullptr;
  const size_t index = static_cast<size_t>(next_wanted_);
  const std::string& file = files_[index];
  look_ahead();
  Decoded decoded = ahead_.front().get();
  ahead_.pop_front();
  const AVFrame* handed = nullptr;
  bool repeat = false;
  if (decoded.picture && decoded.orientation != orientation_) {
    decode::FramePtr laid = laid_as_first(decoded.picture.get(), decoded.orientation);
    if (!laid && keep_going_) {
      other_size_.add(file, 0);
      news_.push_back(file + ": warning: of another size than the first image " + files_.front() +
                      "; its strip is black");
      decoded.picture.reset();
    } else if (!laid) {
      const bool swaps = decoded.orientation >= 5, first_swaps = orientation_ >= 5;
      const AVFrame* p = decoded.picture.get();
      const std::string shown = size_text(swaps ? p->height : p->width, swaps ? p->width : p->height);
      const std::string first = size_text(first_swaps ? shape_.height : shape_.width,
                                          first_swaps ? shape_.width : shape_.height);
      failure_ = file + ": an image of " + shown + " as shown, not " + first +
                 " as the first image " + files_.front() + " (all images must have one size)";
      return nullptr;
    } else {
      decoded.picture = std::move(laid);
    }
  }
  if (decoded.picture && keep_going_ &&
      (decoded.picture->width != shape_.width || decoded.picture->height != shape_.height)) {
    other_size_.add(file, 0);
    news_.push_back(file + ": warning: of another size than the first image " + files_.front() +
                    "; its strip is black");
    decoded.picture.reset();
  }
  const bool own = decoded.picture != nullptr;
  if (own) {
    const AVFrame* picture = decoded.picture.get();
    if (picture->width != shape_.width || picture->height != shape_.height) {
      failure_ = file + ": an image of " + size_text(picture->width, picture->height) +
                 ", not " + size_text(shape_.width, shape_.height) + " as the first image " +
                 files_.front() + " (all images must have one size)";
      return nullptr;
    }
    if (decoded.fate == Fate::damaged) cut_short_.add(file, 0);
    shown_ = std::move(decoded.picture);
    handed = shown_.get();
  } else {
    ++damaged_;
    if (first_damaged_.empty()) first_damaged_ = file;
    if (decoded.fate != Fate::whole && decoded.fate != Fate::damaged) {
      (decoded.fate == Fate::unreadable ? unreadable_ : undecoded_).add(file, decoded.error);
      if (keep_going_)
        news_.push_back(file + ": warning: " +
                        (decoded.fate == Fate::unreadable
                             ? "cannot be read (" + std::string(std::strerror(decoded.error)) + ")"
                             : std::string("does not decode")) +
                        "; its strip is black");
    }
    // The picture before, where there is one; before the first picture, none: black. A
    // watched folder's odd image is black, so that it shows as what it is.
    repeat = !keep_going_ && shown_->data[0] != nullptr;
    handed = repeat ? shown_.get() : black_.get();
  }
  frame = next_wanted_;
  const double seconds =
      numbers_.empty() ? static_cast<double>(frame) / sequence_fps
                       : static_cast<double>(numbers_[index] - numbers_.front()) / sequence_fps;
  stamp_ = FrameStamp{frame, seconds, file, repeat, !repeat && (!own || decoded.fate != Fate::whole)};
  next_wanted_ = choice_.read_after(next_wanted_);
  return handed;
}

namespace {

// Where stored pixel (x, y) of a w x h picture is shown under EXIF orientation `o`.
void shown_at(int o, int w, int h, int x, int y, int& u, int& v) {
  switch (o) {
    case 2: u = w - 1 - x, v = y; break;
    case 3: u = w - 1 - x, v = h - 1 - y; break;
    case 4: u = x, v = h - 1 - y; break;
    case 5: u = y, v = x; break;
    case 6: u = h - 1 - y, v = x; break;
    case 7: u = h - 1 - y, v = w - 1 - x; break;
    case 8: u = y, v = w - 1 - x; break;
    default: u = x, v = y; break;
  }
}

// The stored pixel of a w x h picture shown at (u, v) under orientation `o`.
void stored_at(int o, int w, int h, int u, int v, int& x, int& y) {
  switch (o) {
    case 2: x = w - 1 - u, y = v; break;
    case 3: x = w - 1 - u, y = h - 1 - v; break;
    case 4: x = u, y = h - 1 - v; break;
    case 5: x = v, y = u; break;
    case 6: x = v, y = h - 1 - u; break;
    case 7: x = w - 1 - v, y = h - 1 - u; break;
    case 8: x = w - 1 - v, y = u; break;
    default: x = u, y = v; break;
  }
}

}  // namespace

decode::FramePtr ImageSequence::laid_as_first(const AVFrame* picture, int orientation) const {
  const bool swaps = orientation >= 5, first_swaps = orientation_ >= 5;
  const int shown_w = swaps ? picture->height : picture->width;
  const int shown_h = swaps ? picture->width : picture->height;
  if (shown_w != (first_swaps ? shape_.height : shape_.width) ||
      shown_h != (first_swaps ? shape_.width : shape_.height))
    return nullptr;
  // The whole picture in RGB, with the run's own conversion, then moved pixel by pixel.
  SlitScaler scaler(shape_.deep ? 6 : 3);
  const Converted converted = scaler.convert(picture, Rect{0, 0, picture->width, picture->height});
  if (!converted) return nullptr;
  const RgbView& rgb = *converted;
  decode::FramePtr laid = decode::new_frame();
  laid->format = shape_.deep ? AV_PIX_FMT_RGB48BE : AV_PIX_FMT_RGB24;
  laid->width = shape_.width;
  laid->height = shape_.height;
  if (av_frame_get_buffer(laid.get(), 0) < 0) return nullptr;
  const int bytes = rgb.pixel_bytes;
  for (int y = 0; y < picture->height; ++y)
    for (int x = 0; x < picture->width; ++x) {
      int u, v, to_x, to_y;
      shown_at(orientation, picture->width, picture->height, x, y, u, v);
      stored_at(orientation_, shape_.width, shape_.height, u, v, to_x, to_y);
      std::memcpy(laid->data[0] + to_y * laid->linesize[0] + to_x * bytes,
                  rgb.bytes + y * rgb.stride + x * bytes, static_cast<size_t>(bytes));
    }
  return laid;
}

void ImageSequence::append(std::string file) {
  files_.push_back(std::move(file));
  frames_.count = static_cast<int64_t>(files_.size());
}

void ImageSequence::Tally::add(const std::string& file, int why) {
  if (count++ == 0) {
    first = file;
    error = why;
  }
}

std::vector<std::string> ImageSequence::warnings() const {
  std::vector<std::string> said;
  if (numbers_.size() > 1) {
    const long long missing = numbers_.back() - numbers_.front() + 1 -
                              static_cast<long long>(numbers_.size());
    if (missing > 0) {
      size_t i = 1;
      while (numbers_[i] == numbers_[i - 1] + 1) ++i;
      const long long first = numbers_[i - 1] + 1;
      said.push_back(std::to_string(missing) + " number(s) between " +
                     std::to_string(numbers_.front()) + " and " + std::to_string(numbers_.back()) +
                     " have no image, the first " + std::to_string(first) +
                     "; each image keeps its number's time (a gap in the timeline)");
    }
  }
  if (other_size_.count > 0)
    said.push_back(std::to_string(other_size_.count) + " image(s) of another size than the first " +
                   files_.front() + ", the first " + other_size_.first + "; their strips are black");
  const std::string instead =
      keep_going_ ? "their strips are black"
                  : "their strips repeat the picture before (black before the first that decodes)";
  if (unreadable_.count > 0)
    said.push_back(std::to_string(unreadable_.count) + " image(s) cannot be read, the first " +
                   unreadable_.first + " (" + std::strerror(unreadable_.error) + "); " + instead);
  if (undecoded_.count > 0)
    said.push_back(std::to_string(undecoded_.count) + " image(s) do not decode, the first " +
                   undecoded_.first + "; " + instead);
  if (cut_short_.count > 0)
    said.push_back(std::to_string(cut_short_.count) + " image(s) end early (damaged), the first " +
                   cut_short_.first + "; their strips show what of them decodes");
  return said;
}

}  // namespace scan
