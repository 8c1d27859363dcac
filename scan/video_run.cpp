// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/video_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <limits>
#include <memory>
#include <optional>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "decode/av_error.h"
#include "decode/ffmpeg_handles.h"
#include "scan/displace/displacer.h"
#include "scan/displace/scroller.h"
#include "scan/displace/video_encoder.h"
#include "scan/input/open_input.h"
#include "scan/input/stream_reader.h"
#include "scan/output/output_file.h"

namespace scan {
namespace {

int asked(const std::function<int()>& question) { return question ? question() : 0; }

// The output's clock: the input's frame slots where it has a rate, else its pictures'
// own times.
struct Timing {
  AVRational time_base{1, 25};
  AVRational rate{25, 1};
  bool slots = true;

  static Timing of(const ScanFrames& frames) {
    Timing t;
    AVRational rate = frames.clock.rate;
    if (rate.num <= 0 || rate.den <= 0 || std::abs(av_q2d(rate) - frames.fps) > 1e-3 * frames.fps)
      rate = frames.fps > 0 ? av_d2q(frames.fps, 1 << 16) : AVRational{25, 1};
    t.rate = rate;
    t.time_base = av_inv_q(rate);
    if (frames.variable_rate) {
      t.slots = false;
      t.time_base = frames.clock.time_base.num > 0 ? frames.clock.time_base : AVRational{1, 90000};
      t.rate = {0, 1};
    }
    return t;
  }
  int64_t pts(int64_t frame, double seconds) const {
    return slots ? frame : std::llround(seconds / av_q2d(time_base));
  }
};

class VideoRun {
 public:
  VideoRun(const Request& o, Reporter& reporter, const Stopping& stopping)
      : o_(o), reporter_(reporter), stopping_(stopping) {}
  base::Result<void, Error> go();

 private:
  base::Result<void, Error> repack(const AVFrame& first);
  base::Result<void, Error> start(const AVFrame& first);
  base::Result<void, Error> frame_of(const AVFrame& picture, int64_t frame);
  Error interrupted() const {
    const int why = asked(stopping_.abandon) != 0 ? asked(stopping_.abandon) : asked(stopping_.finish);
    return Error{ExitStatus::interrupted, "interrupted; no clip written", why};
  }
  void say(const std::string& line) const {
    if (!o_.quiet) reporter_.say(line);
  }
  int threads() const { return o_.threads > 0 ? o_.threads : default_threads(); }

  const Request& o_;
  Reporter& reporter_;
  const Stopping& stopping_;
  std::unique_ptr<FrameSource> source_;
  std::optional<displace::GreyMap> map_;
  std::optional<displace::Displacer> displacer_;
  std::optional<displace::Scroller> scroller_;
  std::unique_ptr<displace::VideoEncoder> encoder_;
  decode::FramePtr out_;
  int input_format_ = -1;
  decode::ScalerPtr repacker_;  // for pixels packed two to a unit
  decode::FramePtr repacked_;
  Timing timing_;
  int64_t written_ = 0, last_pts_ = std::numeric_limits<int64_t>::min();
};

// Pixels packed two to a unit (a camera's YUYV) are moved once repacked into planes, which
// loses nothing.
base::Result<void, Error> VideoRun::repack(const AVFrame& first) {
  if (displace::movable(first.format, first.width)) return {};
  const AVPixelFormat planar[] = {AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV444P,
                                  AV_PIX_FMT_YUV422P16LE, AV_PIX_FMT_YUV444P16LE, AV_PIX_FMT_GBRP,
                                  AV_PIX_FMT_GBRP16LE, AV_PIX_FMT_NONE};
  const auto from = static_cast<AVPixelFormat>(first.format);
  const AVPixelFormat to = avcodec_find_best_pix_fmt_of_list(planar, from, 0, nullptr);
  repacker_.reset(sws_getContext(first.width, first.height, from, first.width, first.height, to,
                                 SWS_POINT | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
  repacked_ = decode::new_frame();
  repacked_->format = to;
  repacked_->width = first.width;
  repacked_->height = first.height;
  if (!repacker_ || av_frame_get_buffer(repacked_.get(), 0) < 0)
    return base::failed(o_.input + ": " + displace::movable(first.format, first.width).error().message +
                            "; cannot repack it");
  say(o_.input + ": the pixel format " + av_get_pix_fmt_name(from) + " is moved as " +
      av_get_pix_fmt_name(to));
  return {};
}

base::Result<void, Error> VideoRun::start(const AVFrame& first) {
  const auto format = static_cast<AVPixelFormat>(first.format);
  if (o_.scroll) {
    // A percentage of width - 1, halves up, as an image's slit.
    const int64_t at = o_.slit.percent ? int64_t(std::floor(o_.slit.fraction * (first.width - 1) + 0.5))
                                       : o_.slit.position;
    auto made = displace::Scroller::make(format, first.width, first.height, int(std::clamp<int64_t>(at, -1, 1 << 30)),
                                         int(std::min<int64_t>(o_.slit.width, 1 << 30)));
    if (!made) return base::failure(made.error().within(o_.input + ": "));
    scroller_.emplace(std::move(*made));
  }
  const displace::DelayField field = o_.scroll ? displace::DelayField{} :
      map_ ? displace::map_field(map_->samples, map_->width, map_->height, map_->vmax,
                                 o_.delay.map_frames, o_.delay.blend, first.width, first.height)
           : displace::ramp_field(o_.delay, first.width, first.height);
  if (!o_.scroll) {
    auto made = displace::Displacer::make(field, format, first.width, first.height);
    if (!made) return base::failure(made.error().within(o_.input + ": "));
    displacer_.emplace(std::move(*made));
  }
  out_ = decode::new_frame();
  out_->format = first.format;
  out_->width = first.width;
  out_->height = first.height;
  if (const int got = av_frame_get_buffer(out_.get(), 0); got < 0)
    return base::failed(decode::av_error_text("cannot hold a frame", got));
  // The encoder's threads do not follow --threads: libx264 splits its work by its thread
  // count, and its bytes would change with it. A fixed count keeps a clip the same at every
  // --threads; --encoder-option threads=N sets another.
  constexpr int encoder_threads = 4;
  displace::EncoderSetting setting{o_.output, o_.force, o_.codec, o_.crf, o_.crf_given,
                                   o_.encoder_options, encoder_threads, timing_.time_base,
                                   timing_.rate};
  auto opened = displace::VideoEncoder::open(setting, first);
  if (!opened) return base::failure(opened.error());
  encoder_ = std::move(*opened);
  if (encoder_->converts())
    say(o_.output + ": warning: " + o_.codec + " does not take the input's pixel format " +
        av_get_pix_fmt_name(format) + "; the frames are converted");
  return {};
}

base::Result<void, Error> VideoRun::frame_of(const AVFrame& given, int64_t frame) {
  if (!encoder_) {
    input_format_ = given.format;
    if (auto ok = repack(given); !ok) return ok;
  }
  if (given.width != (out_ ? out_->width : given.width) ||
      given.height != (out_ ? out_->height : given.height) || given.format != input_format_)
    return base::failed(o_.input + ": frame " + std::to_string(frame) +
                            " changes the picture's size or pixel format; a clip keeps one");
  const AVFrame* moved = &given;
  if (repacker_) {
    if (const int writable = av_frame_make_writable(repacked_.get()); writable < 0)
      return base::failed(decode::av_error_text("cannot hold a frame", writable));
    sws_scale(repacker_.get(), given.data, given.linesize, 0, given.height, repacked_->data,
              repacked_->linesize);
    av_frame_copy_props(repacked_.get(), &given);
    moved = repacked_.get();
  }
  const AVFrame& picture = *moved;
  if (!encoder_)
    if (auto ok = start(picture); !ok) return ok;
  if (const int writable = av_frame_make_writable(out_.get()); writable < 0)
    return base::failed(decode::av_error_text("cannot hold a frame", writable));
  if (scroller_) scroller_->push(picture, *out_);
  else displacer_->push(picture, *out_);
  av_frame_copy_props(out_.get(), &picture);
  // Times that do not rise (rounded variable-rate stamps) are nudged on by one tick.
  int64_t pts = timing_.pts(frame, source_->stamp().seconds);
  if (last_pts_ != std::numeric_limits<int64_t>::min() && pts <= last_pts_) pts = last_pts_ + 1;
  last_pts_ = pts;
  out_->pts = pts;
  out_->pict_type = AV_PICTURE_TYPE_NONE;
  if (base::Status put = encoder_->write(*out_); !put) return base::failure(put.error());
  ++written_;
  return {};
}

base::Result<void, Error> VideoRun::go() {
  struct stat st {};
  if (o_.output != "-") {
    if (o_.skip_existing && stat(o_.output.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
      say(o_.output + ": exists; skipped (--skip-existing)");
      return {};
    }
    if (base::Status ok = check_output(o_.output, o_.force); !ok) return base::failure(ok.error());
  }
  if (!o_.delay.map.empty()) {
    auto read = displace::read_grey_png(o_.delay.map);
    if (!read) return base::failure(read.error());
    map_ = std::move(*read);
  }
  if (!o_.input_format.empty())
    if (base::Status known = check_input_format(o_.input_format); !known)
      return base::failure(known.error());
  InputRequest request;
  request.input = o_.input;
  request.format = o_.input_format;
  request.options = o_.input_options;
  request.turn_images = false;  // frames as stored, as a clip's
  InputOpening opened = open_input(request,
                                   threads(), [this] {
                                     return asked(stopping_.abandon) != 0 || asked(stopping_.finish) != 0;
                                   });
  if (asked(stopping_.abandon) != 0 || asked(stopping_.finish) != 0) return base::failure(interrupted());
  if (!opened) return base::failure(opened.error());
  source_ = std::move(*opened);
  timing_ = Timing::of(source_->frames());
  const bool known = source_->length_known();
  const int64_t count = known ? source_->frames().count : std::numeric_limits<int64_t>::max();
  if (!source_->choose(FrameChoice{0, count, 1, {}}))
    return base::failed(o_.input + ": cannot read its frames");
  Progress silent;
  Progress& progress = o_.quiet ? silent : reporter_.progress();
  progress.start(known ? count : 0);
  auto failed = [&](base::Failure<Error> error) {
    if (encoder_) encoder_->discard();
    progress.clear();
    return error;
  };
  int64_t frame = 0;
  for (;;) {
    if (asked(stopping_.abandon) != 0) return failed(base::failure(interrupted()));
    // The first SIGINT ends the clip at the last whole frame.
    if (asked(stopping_.finish) != 0) break;
    const AVFrame* picture = source_->next(frame);
    if (picture == nullptr) break;
    if (auto ok = frame_of(*picture, frame); !ok) return failed(base::failure(ok.error()));
    progress.update(written_);
  }
  if (asked(stopping_.abandon) != 0) return failed(base::failure(interrupted()));
  if (const auto why = source_->failure()) return failed(base::failed(*why));
  if (asked(stopping_.finish) == 0 && known && source_->broke_off()) {
    const std::string where = o_.input + ": the clip breaks off before frame " + std::to_string(written_);
    return failed(base::failed(source_->read_error() != 0
                                   ? decode::av_error_text(where, source_->read_error())
                                   : where));
  }
  if (!encoder_) {
    if (asked(stopping_.finish) != 0) return failed(base::failure(interrupted()));
    return failed(base::failed(o_.input + ": no frame to write"));
  }
  if (base::Status done = encoder_->finish(); !done) return failed(base::failure(done.error()));
  progress.clear();
  if (asked(stopping_.finish) != 0)
    say(o_.input + ": stopped by " + (asked(stopping_.finish) == SIGINT ? "SIGINT" : "SIGTERM") +
        " after " + std::to_string(written_) + " frames; the clip holds them");
  if (source_->damaged() > 0)
    say(o_.input + ": warning: " + std::to_string(source_->damaged()) +
        " frame(s) did not decode and show the picture before them");
  return {};
}

}  // namespace

base::Result<void, Error> run_video(const Request& o, Reporter& reporter, const Stopping& stopping) {
  return VideoRun(o, reporter, stopping).go();
}

}  // namespace scan
