// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/stream_reader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

extern "C" {
#include <libavdevice/version.h>
}

#include "decode/av_error.h"
#include "decode/decoder_setup.h"
#include "decode/display_orientation.h"
#include "scan/input/clip_messages.h"
#include "scan/input/jpeg_area.h"
#include "scan/slit/slit_scaler.h"

namespace scan {

bool is_stream_input(const std::string& input, const std::string& format) {
  if (!format.empty() || input == "-") return true;
  struct stat st {};
  // A file of that name is the file, even when its name looks like a URL.
  if (stat(input.c_str(), &st) == 0) return S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode);
  return input.find("://") != std::string::npos;
}

namespace {

// The read time-out in effect for `options`, in microseconds; 0 for none.
int64_t read_timeout(const InputOptions& options) {
  for (const auto& [key, value] : options)
    if (key == "rw_timeout") return std::strtoll(value.c_str(), nullptr, 10);
  return 0;
}

// FFmpeg's failure to open or read `input`, a time-out told with how to wait longer.
std::string open_failure(const std::string& input, const std::string& what, int err,
                         const InputOptions& options) {
  if (err == AVERROR(ETIMEDOUT) && read_timeout(options) > 0) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", static_cast<double>(read_timeout(options)) / 1e6);
    return input + ": no answer within " + seconds +
           " s; --input-option rw_timeout=MICROSECONDS waits longer (0: for ever)";
  }
  return decode::av_error_text(input + ": " + what, err);
}

// Why the stream `input` did not open, in velmora-scan's words; a refusal a clip can meet
// too (no video, an unbelievable size) in the clip's.
std::string open_failure(const std::string& input, const decode::OpenFailure& failure,
                         const InputOptions& options) {
  using decode::OpenProblem;
  switch (failure.problem) {
    case OpenProblem::bad_option:
      return "--input-option " + failure.detail + ": the input format does not take it";
    case OpenProblem::timed_out:
      if (read_timeout(options) > 0) return open_failure(input, "", AVERROR(ETIMEDOUT), options);
      break;
    case OpenProblem::no_video:
    case OpenProblem::bad_size:
      return input + ": " + describe_failure(failure);
    default:
      break;
  }
  return input + ": " + failure.detail;
}

// Cameras and other devices are libavdevice's inputs. It is opened when an input may be
// one, not linked: it brings some eighty libraries more, whose loading took 50 ms of every
// start, which a batch of many short clips pays each time. Fails with why the devices are
// missing.
const base::Status& register_devices() {
  static const base::Status registered = []() -> base::Status {
    const std::string name = "libavdevice.so." + std::to_string(LIBAVDEVICE_VERSION_MAJOR);
    void* library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return base::failed(std::string(dlerror()));
    void* registration = dlsym(library, "avdevice_register_all");
    if (registration == nullptr) return base::failed(name + " has no avdevice_register_all");
    reinterpret_cast<void (*)()>(registration)();
    return {};
  }();
  return registered;
}

std::string no_such_format(const std::string& name) {
  const base::Status& devices = register_devices();
  return "--format " + name + ": FFmpeg knows no such input format or device" +
         (devices ? "" : " (devices cannot be used: " + devices.error().message + ")");
}

}  // namespace

InputOptions stream_open_options(const StreamRequest& request) {
  return decode::with_read_timeout(request.input, request.options);
}

base::Status check_input_format(const std::string& name) {
  (void)register_devices();  // a failure is told when the format is not found
  if (av_find_input_format(name.c_str()) != nullptr) return {};
  return base::usage(no_such_format(name));
}

StreamReader::~StreamReader() = default;

base::Result<std::unique_ptr<StreamReader>, base::Error> StreamReader::open(
    const StreamRequest& request, std::function<bool()> stop) {
  const std::string& input = request.input;
  // A device is named by its format, or is a character device FFmpeg's devices recognise
  // by its path (/dev/video0); pipes and network streams need none.
  struct stat st {};
  if (!request.format.empty() || (stat(input.c_str(), &st) == 0 && S_ISCHR(st.st_mode)))
    (void)register_devices();  // a failure is told if the format is then not found
  std::unique_ptr<StreamReader> reader(new StreamReader());
  reader->stop_ = stop;
  const AVInputFormat* forced = nullptr;
  if (!request.format.empty()) {
    forced = av_find_input_format(request.format.c_str());
    if (forced == nullptr) return base::failed(no_such_format(request.format));
  }
  const InputOptions given = stream_open_options(request);
  decode::Opening<decode::StreamInput> opened =
      decode::open_stream_input({input, forced, request.options, std::move(stop)});
  if (!opened) return base::failed(open_failure(input, opened.error(), given));
  reader->input_ = std::move(*opened);
  const AVStream* video = reader->input_.format->streams[reader->input_.stream];
  // Pictures that stand alone are decoded by a pool once the run starts; this decoder gives
  // only the first, one packet for one picture.
  reader->threads_ = request.threads;
  const bool pooled = decode::IntraPool::suits(video->codecpar->codec_id);
  decode::Opening<decode::CodecPtr> codec =
      decode::open_decoder(video, pooled ? 1 : request.threads);
  if (!codec) return base::failed(input + ": " + describe_failure(codec.error()));
  reader->codec_ = std::move(*codec);
  reader->display_ = decode::display_matrix_of(video);
  AVRational rate = video->avg_frame_rate.num > 0 ? video->avg_frame_rate : video->r_frame_rate;
  reader->frames_.fps = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
  reader->frames_.variable_rate = false;
  reader->frames_.clock.time_base = video->time_base;
  if (!reader->decode_next()) {
    if (reader->stop_ && reader->stop_()) return base::failed(input + ": interrupted");
    if (reader->read_error_ == AVERROR(ETIMEDOUT))
      return base::failed(open_failure(input, "", reader->read_error_, given));
    return base::failed(input + ": none of its frames decodes");
  }
  // A size the stream's header left out is its first picture's, held to the same limit.
  if (std::optional<std::string> bad =
          decode::bad_picture_size(reader->picture_->width, reader->picture_->height))
    return base::failed(
        input + ": " + describe_failure({decode::OpenProblem::bad_size, std::move(*bad)}));
  reader->shape_ = PictureShape::of(*reader->picture_);
  reader->held_ = true;
  reader->last_gave_ = true;  // the packet in last_ gave the first picture
  return reader;
}

bool StreamReader::decode_next() {
  if (pool_) return decode_pooled();
  for (;;) {
    av_frame_unref(picture_.get());
    const int got = avcodec_receive_frame(codec_.get(), picture_.get());
    if (got == 0 && discard_ > 0) {
      --discard_;
      continue;
    }
    if (got == 0) {
      decode::mark_cut_short(*picture_, cut_short_);
      if (decode::damaged_picture(*picture_)) ++damaged_;
      return true;
    }
    if (got == AVERROR_EOF || ended_) return false;
    if (got != AVERROR(EAGAIN)) {
      ++damaged_;
      continue;
    }
    if (draining_) return false;
    const int read = av_read_frame(input_.format.get(), packet_.get());
    if (read < 0) {
      // The end, a failure to read on, or a stop asked for: what came so far is the stream.
      if (read != AVERROR_EOF && read != AVERROR_EXIT) read_error_ = read;
      draining_ = true;
      avcodec_send_packet(codec_.get(), nullptr);
      continue;
    }
    if (packet_->stream_index == input_.stream) decode::flag_cut_short(codec_->codec_id, *packet_);
    if (packet_->stream_index == input_.stream) cut_off_ = (packet_->flags & AV_PKT_FLAG_CORRUPT) != 0;
    if (packet_->stream_index == input_.stream && jpeg_ && take_jpeg(*packet_, *picture_)) {
      if (packet_->flags & AV_PKT_FLAG_CORRUPT) picture_->flags |= AV_FRAME_FLAG_CORRUPT;
      av_packet_unref(packet_.get());
      return true;
    }
    if (packet_->stream_index == input_.stream) {
      if (packet_->flags & AV_PKT_FLAG_CORRUPT) cut_short_.push_back(packet_->dts);
      av_packet_unref(last_.get());
      if (av_packet_ref(last_.get(), packet_.get()) < 0) av_packet_unref(last_.get());
      if (avcodec_send_packet(codec_.get(), packet_.get()) < 0) ++damaged_;
    }
    av_packet_unref(packet_.get());
  }
}

// The next picture from the pool, which reads a few packets ahead of it.
bool StreamReader::decode_pooled() {
  for (;;) {
    while (!leaving_ && !draining_ && pool_->has_room()) {
      const int read = av_read_frame(input_.format.get(), packet_.get());
      if (read < 0) {
        if (read != AVERROR_EOF && read != AVERROR_EXIT) read_error_ = read;
        draining_ = true;
        break;
      }
      if (packet_->stream_index == input_.stream) decode::flag_cut_short(codec_->codec_id, *packet_);
      if (packet_->stream_index == input_.stream) cut_off_ = (packet_->flags & AV_PKT_FLAG_CORRUPT) != 0;
      if (packet_->stream_index == input_.stream && !pool_->takes(*packet_)) {
        leaving_ = true;
        break;
      }
      if (packet_->stream_index == input_.stream) {
        av_packet_unref(last_.get());
        if (av_packet_ref(last_.get(), packet_.get()) < 0) av_packet_unref(last_.get());
        pool_->send(packet_.get());
      }
      av_packet_unref(packet_.get());
    }
    if (pool_->empty() && leaving_) {
      if (!leave_pool()) return false;
      return decode_next();
    }
    if (pool_->empty()) return false;
    const decode::IntraOutcome got = pool_->receive(picture_.get());
    last_gave_ = got.picture;
    if (!got.picture || decode::damaged_picture(*picture_)) ++damaged_;
    if (got.picture) return true;
  }
}

// Every packet the pool took has given its picture; packet_ carries on from the last of
// them (an FFV1 frame between keyframes). One decoder of all the threads goes on: it
// decodes that last packet once more, its picture handed out already, then packet_.
bool StreamReader::leave_pool() {
  pool_.reset();
  leaving_ = false;
  decode::Opening<decode::CodecPtr> codec =
      decode::open_decoder(input_.format->streams[input_.stream], threads_);
  if (!codec) return false;
  codec_ = std::move(*codec);
  discard_ = 0;
  if (last_->data != nullptr && avcodec_send_packet(codec_.get(), last_.get()) >= 0 && last_gave_)
    discard_ = 1;
  av_packet_unref(last_.get());
  if (av_packet_ref(last_.get(), packet_.get()) < 0) av_packet_unref(last_.get());
  if (packet_->flags & AV_PKT_FLAG_CORRUPT) cut_short_.push_back(packet_->dts);
  if (avcodec_send_packet(codec_.get(), packet_.get()) < 0) ++damaged_;
  av_packet_unref(packet_.get());
  return true;
}

// A JPEG picture decoded around the area read; false leaves it to FFmpeg's decoder.
bool StreamReader::take_jpeg(const AVPacket& packet, AVFrame& picture) {
  if (!jpeg_->decode(packet.data, static_cast<size_t>(packet.size), picture)) return false;
  picture.pts = packet.pts;
  picture.best_effort_timestamp = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
  return true;
}

void StreamReader::read_only(Rect area) {
  if (codec_->codec_id != AV_CODEC_ID_MJPEG) return;
  // Several slits: one area that holds them all.
  if (jpeg_) area = jpeg_->area().united(area);
  jpeg_ = std::make_unique<JpegArea>(shape_.width, shape_.height, area);
  // The picture decoded when the stream was opened is decoded again so, as all after it.
  if (!held_ || last_->data == nullptr) return;
  decode::FramePtr again = decode::new_frame();
  if (take_jpeg(*last_, *again)) std::swap(picture_, again);
}

bool StreamReader::choose(FrameChoice choice) {
  const AVStream* stream = input_.format->streams[input_.stream];
  if (threads_ > 1 && decode::IntraPool::suits(stream->codecpar->codec_id)) {
    decode::ShortcutMaker maker;
    if (jpeg_) {
      auto wish = std::make_shared<JpegWish>();
      wish->width = shape_.width;
      wish->height = shape_.height;
      wish->area = jpeg_->area();
      wish->on = true;
      maker = jpeg_area_shortcuts(std::move(wish));
    }
    // Without a pool the one decoder goes on alone.
    if (auto pool = decode::IntraPool::open(stream, threads_, std::move(maker)); pool)
      pool_ = std::move(*pool);
  }
  choice_ = choice;
  next_wanted_ = choice.from;
  return choice.every > 0;
}

// A picture's frame is its stamp's slot of the stream's rate, counted from the first
// picture, never its rank: a picture that does not decode, or a stamp that skips slots,
// leaves its frames to the picture before, as in a file. Without a rate or a stamp the
// picture takes the next slot; slots only ever grow.
int64_t StreamReader::slot_of(const AVFrame& picture) const {
  const int64_t pts = picture.best_effort_timestamp;
  int64_t slot = last_slot_ + 1;
  if (pts != AV_NOPTS_VALUE && first_pts_ != AV_NOPTS_VALUE && frames_.fps > 0) {
    const double exact = static_cast<double>(pts - first_pts_) *
                         av_q2d(frames_.clock.time_base) * frames_.fps;
    slot = static_cast<int64_t>(std::llround(exact));
  }
  return slot > last_slot_ ? slot : last_slot_ + 1;
}

const AVFrame* StreamReader::next(int64_t& frame) {
  if (next_wanted_ >= choice_.to) return nullptr;
  // shown_ is the last picture at or before the frame wanted; picture_ the one after it,
  // once decoded (held_).
  for (;;) {
    if (!held_) {
      if (!decode_next()) break;
      held_ = true;
      ahead_slot_ = -1;
    }
    if (first_pts_ == AV_NOPTS_VALUE) first_pts_ = picture_->best_effort_timestamp;
    if (ahead_slot_ < 0) ahead_slot_ = last_slot_ = slot_of(*picture_);
    if (shown_slot_ >= 0 && ahead_slot_ > next_wanted_) break;
    std::swap(shown_, picture_);
    shown_slot_ = ahead_slot_;
    held_ = false;
  }
  // The stream ended: no frame lies past its last picture.
  if (shown_slot_ < 0 || (!held_ && shown_slot_ < next_wanted_)) return nullptr;
  frame = next_wanted_;
  const double tb = av_q2d(frames_.clock.time_base);
  const int64_t pts = shown_->best_effort_timestamp;
  stamp_.frame = frame;
  stamp_.repeat = shown_slot_ != frame;
  stamp_.damaged = !stamp_.repeat && decode::damaged_picture(*shown_);
  stamp_.seconds = !stamp_.repeat && pts != AV_NOPTS_VALUE && first_pts_ != AV_NOPTS_VALUE
                       ? static_cast<double>(pts - first_pts_) * tb
                       : frames_.seconds_of(frame);
  next_wanted_ = choice_.step_after(next_wanted_);
  return shown_.get();
}

}  // namespace scan
