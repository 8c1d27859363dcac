// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/stream_reader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libavdevice/version.h>
#include <libavutil/dict.h>
}

#include "decode/av_error.h"
#include "decode/decoder_setup.h"
#include "decode/display_orientation.h"
#include "scan/input/clip_messages.h"
#include "scan/input/jpeg_area.h"
#include "scan/slit/slit_scaler.h"

namespace scan {
namespace {

struct DictionaryDeleter {
  void operator()(AVDictionary* dict) const { av_dict_free(&dict); }
};

}  // namespace

bool is_stream_input(const std::string& input, const std::string& format) {
  if (!format.empty() || input == "-") return true;
  struct stat st {};
  // A file of that name is the file, even when its name looks like a URL.
  if (stat(input.c_str(), &st) == 0) return S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode);
  return input.find("://") != std::string::npos;
}

namespace {

// How long a URL's read may wait for data: long enough for a slow server, short enough
// that a dead one is told.
constexpr int64_t url_read_timeout = 10'000'000;  // microseconds

bool is_url(const std::string& input) {
  struct stat st {};
  return input.find("://") != std::string::npos && stat(input.c_str(), &st) != 0;
}

bool has_read_timeout(const InputOptions& options) {
  return std::any_of(options.begin(), options.end(),
                     [](const auto& option) { return option.first == "rw_timeout"; });
}

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

// Cameras and other devices are libavdevice's inputs. It is opened when an input may be
// one, not linked: it brings some eighty libraries more, whose loading took 50 ms of every
// start, which a batch of many short clips pays each time. Fails with why the devices are
// missing.
const InputFormatCheck& register_devices() {
  static const InputFormatCheck registered = []() -> InputFormatCheck {
    const std::string name = "libavdevice.so." + std::to_string(LIBAVDEVICE_VERSION_MAJOR);
    void* library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return base::failure(std::string(dlerror()));
    void* registration = dlsym(library, "avdevice_register_all");
    if (registration == nullptr) return base::failure(name + " has no avdevice_register_all");
    reinterpret_cast<void (*)()>(registration)();
    return {};
  }();
  return registered;
}

std::string no_such_format(const std::string& name) {
  const InputFormatCheck& devices = register_devices();
  return "--format " + name + ": FFmpeg knows no such input format or device" +
         (devices ? "" : " (devices cannot be used: " + devices.error() + ")");
}

}  // namespace

InputOptions stream_open_options(const StreamRequest& request) {
  InputOptions options = request.options;
  if (is_url(request.input) && !has_read_timeout(options))
    options.emplace_back("rw_timeout", std::to_string(url_read_timeout));
  return options;
}

InputFormatCheck check_input_format(const std::string& name) {
  (void)register_devices();  // a failure is told when the format is not found
  if (av_find_input_format(name.c_str()) != nullptr) return {};
  return base::failure(no_such_format(name));
}

int StreamReader::ask_stop(void* self) {
  const auto* reader = static_cast<const StreamReader*>(self);
  return reader->stop_ && reader->stop_() ? 1 : 0;
}

StreamReader::~StreamReader() = default;

base::Result<std::unique_ptr<StreamReader>, std::string> StreamReader::open(
    const StreamRequest& request, std::function<bool()> stop) {
  const std::string& input = request.input;
  // A device is named by its format, or is a character device FFmpeg's devices recognise
  // by its path (/dev/video0); pipes and network streams need none.
  struct stat st {};
  if (!request.format.empty() || (stat(input.c_str(), &st) == 0 && S_ISCHR(st.st_mode)))
    (void)register_devices();  // a failure is told if the format is then not found
  std::unique_ptr<StreamReader> reader(new StreamReader());
  reader->stop_ = std::move(stop);
  const AVInputFormat* forced = nullptr;
  if (!request.format.empty()) {
    forced = av_find_input_format(request.format.c_str());
    if (forced == nullptr) return base::failure(no_such_format(request.format));
  }
  const InputOptions given = stream_open_options(request);
  AVDictionary* raw_options = nullptr;
  for (const auto& [key, value] : given) av_dict_set(&raw_options, key.c_str(), value.c_str(), 0);
  std::unique_ptr<AVDictionary, DictionaryDeleter> options(raw_options);
  const AVIOInterruptCB interrupt{&StreamReader::ask_stop, reader.get()};
  // Standard input is read through a reader of its own, which counts the bytes it read:
  // an empty one is told as such, not as data FFmpeg cannot make sense of.
  if (input == "-") {
    AVIOContext* pipe = nullptr;
    raw_options = options.release();
    const int opened = avio_open2(&pipe, "pipe:0", AVIO_FLAG_READ, &interrupt, &raw_options);
    options.reset(raw_options);
    if (opened < 0)
      return base::failure(decode::av_error_text("-: cannot read standard input", opened));
    reader->stdin_.reset(pipe);
  }
  AVFormatContext* raw = avformat_alloc_context();
  if (raw == nullptr) return base::failure(input + ": not enough memory to open it");
  raw->interrupt_callback = interrupt;
  if (reader->stdin_) {
    raw->pb = reader->stdin_.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
  }
  // FFmpeg looks at 5 s of a stream before the first picture by default: a growing image
  // of a live camera should start sooner. --input-option analyzeduration=... overrides it.
  raw->max_analyze_duration = 500000;
  raw_options = options.release();
  const int opened = avformat_open_input(&raw, input == "-" ? "pipe:0" : input.c_str(), forced,
                                         &raw_options);
  options.reset(raw_options);
  if (opened < 0 && reader->stdin_ && reader->stdin_->bytes_read == 0 && !ask_stop(reader.get()))
    return base::failure("-: standard input was empty");
  if (opened < 0) return base::failure(open_failure(input, "cannot open it", opened, given));
  reader->format_.reset(raw);
  // The read time-out added for a URL is taken by its protocols, or by none (rtsp:// reads
  // through its own); only an option given may be refused.
  for (const AVDictionaryEntry* unused = nullptr;
       (unused = av_dict_get(options.get(), "", unused, AV_DICT_IGNORE_SUFFIX)) != nullptr;) {
    if (std::string(unused->key) == "rw_timeout" && !has_read_timeout(request.options)) continue;
    return base::failure("--input-option " + std::string(unused->key) + "=" + unused->value +
                         ": the input format does not take it");
  }
  // Looking into the stream costs time a live one fills with waiting: only when its header
  // does not say which video codec it holds (MPEG-TS finds its streams as it goes).
  bool known = false;
  for (unsigned i = 0; i < raw->nb_streams; ++i)
    known = known || (raw->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                      raw->streams[i]->codecpar->codec_id != AV_CODEC_ID_NONE);
  if (!known || (raw->ctx_flags & AVFMTCTX_NOHEADER) != 0) {
    if (int err = avformat_find_stream_info(raw, nullptr); err < 0)
      return base::failure(open_failure(input, "cannot read its streams", err, given));
  }
  const int stream = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (stream < 0) return base::failure(input + ": holds no video stream");
  for (unsigned i = 0; i < raw->nb_streams; ++i)
    if (static_cast<int>(i) != stream) raw->streams[i]->discard = AVDISCARD_ALL;
  reader->stream_ = stream;
  // Pictures that stand alone are decoded by a pool once the run starts; this decoder gives
  // only the first, one packet for one picture.
  reader->threads_ = request.threads;
  const bool pooled = decode::IntraPool::suits(raw->streams[stream]->codecpar->codec_id);
  decode::Opening<decode::CodecPtr> codec =
      decode::open_decoder(raw->streams[stream], pooled ? 1 : request.threads);
  if (!codec) return base::failure(input + ": " + describe_failure(codec.error()));
  reader->codec_ = std::move(*codec);
  const AVStream* video = raw->streams[stream];
  reader->display_ = decode::display_matrix_of(video);
  AVRational rate = video->avg_frame_rate.num > 0 ? video->avg_frame_rate : video->r_frame_rate;
  reader->frames_.fps = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
  reader->frames_.variable_rate = false;
  reader->frames_.clock.time_base = video->time_base;
  if (!reader->decode_next()) {
    if (reader->stop_ && reader->stop_()) return base::failure(input + ": interrupted");
    if (reader->read_error_ == AVERROR(ETIMEDOUT))
      return base::failure(open_failure(input, "", reader->read_error_, given));
    return base::failure(input + ": none of its frames decodes");
  }
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
    const int read = av_read_frame(format_.get(), packet_.get());
    if (read < 0) {
      // The end, a failure to read on, or a stop asked for: what came so far is the stream.
      if (read != AVERROR_EOF && read != AVERROR_EXIT) read_error_ = read;
      draining_ = true;
      avcodec_send_packet(codec_.get(), nullptr);
      continue;
    }
    if (packet_->stream_index == stream_) decode::flag_cut_short(codec_->codec_id, *packet_);
    if (packet_->stream_index == stream_) cut_off_ = (packet_->flags & AV_PKT_FLAG_CORRUPT) != 0;
    if (packet_->stream_index == stream_ && jpeg_ && take_jpeg(*packet_, *picture_)) {
      if (packet_->flags & AV_PKT_FLAG_CORRUPT) picture_->flags |= AV_FRAME_FLAG_CORRUPT;
      av_packet_unref(packet_.get());
      return true;
    }
    if (packet_->stream_index == stream_) {
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
      const int read = av_read_frame(format_.get(), packet_.get());
      if (read < 0) {
        if (read != AVERROR_EOF && read != AVERROR_EXIT) read_error_ = read;
        draining_ = true;
        break;
      }
      if (packet_->stream_index == stream_) decode::flag_cut_short(codec_->codec_id, *packet_);
      if (packet_->stream_index == stream_) cut_off_ = (packet_->flags & AV_PKT_FLAG_CORRUPT) != 0;
      if (packet_->stream_index == stream_ && !pool_->takes(*packet_)) {
        leaving_ = true;
        break;
      }
      if (packet_->stream_index == stream_) {
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
      decode::open_decoder(format_->streams[stream_], threads_);
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
  const AVStream* stream = format_->streams[stream_];
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
