// SPDX-License-Identifier: GPL-3.0-or-later
// The loop of a run: the source is opened, the plan worked out, and each chosen picture is
// cut into its strip and handed to the sinks, whose files then land together. Several
// slits are runs that share one source: the first reads it and hands its pictures on.
#include "scan/scan.h"
#include "scan/selections.h"
#include "scan/input/tiff_stack.h"

#include "scan/plan.h"
#include "scan/sinks.h"
#include "scan/video_run.h"
#include "scan/viewer_page.h"
#include "scan/nights.h"
#include "scan/state_keeper.h"
#include "scan/watch_state.h"
#include "scan/input/image_sequence.h"

#include <algorithm>
#include <csignal>
#include <ctime>
#include <cmath>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <thread>
#include <vector>

#include "decode/av_error.h"
#include "scan/input/frame_source.h"
#include "scan/output/growing_image.h"
#include "scan/input/stream_reader.h"
#include "scan/input/open_input.h"
#include "scan/slit/cutter.h"
#include "scan/slit/slit_scaler.h"
#include "scan/input/clip_messages.h"
#include "scan/slit/line_strips.h"
#include "scan/slit/slit_path.h"
#include "scan/slit/oriented_strip.h"
#include "scan/output/output_file.h"
#include "scan/output/png_output.h"
#include "scan/progress.h"
#include "scan/output/strip_image.h"
#include "scan/input/image_list.h"
#include "scan/time/strip_times.h"
#include "scan/time/periods.h"
#include "scan/time/tick_band.h"
#include "scan/output/tiff_output.h"
#include "strips/pixel_kind.h"

namespace scan {
namespace {

using strips::Cut;


// A step's failure, or nothing when it went well.
// A step of a run: done, or the error that ends it.
using Step = base::Result<void, Error>;

// The warning for a display matrix velmora-scan does not follow: its angle when that lies
// off every quarter turn, else (a shear, uneven scales, a singular matrix) just that.
std::string odd_turn(const decode::DisplayMatrix& display) {
  std::string what = "its display matrix is not a quarter turn or a mirror";
  if (std::abs(display.degrees - 90 * std::round(display.degrees / 90)) > 1) {
    char degrees[32];
    std::snprintf(degrees, sizeof degrees, "%.1f", display.degrees);
    what = "its display matrix turns the picture by " + std::string(degrees) +
           " degrees, not a quarter turn";
  }
  return what + "; the frames are used as stored";
}

std::string describe_size(const ImageSize& size) {
  return std::to_string(size.width) + " x " + std::to_string(size.height) +
         (size.pixel_bytes == 6 ? " 16-bit RGB" : " 8-bit RGB");
}

using StripTaker = std::function<base::Result<void, Error>(const Strip&)>;

// What the caller said when it asked to stop: `abandon`'s reason, else `finish`'s.
int asked(const std::function<int()>& question) { return question ? question() : 0; }

// Everything a run holds while it decodes and writes.
class Run {
 public:
  // `shared`: an input another run has opened, whose pictures this run is handed (lay()).
  Run(const Request& o, Reporter& reporter, const Stopping& stopping,
      FrameSource* shared = nullptr)
      : o_(o), reporter_(reporter), stopping_(stopping), clip_(shared) {
    if (o.split_at) periods_.emplace(o.output, o.timeline, *o.split_at, o.utc);
  }
  Step go();
  // Hands each strip to `take` instead of writing an image.
  Step hand_out(const StripTaker& take);

  bool skipped();
  Step prepare();
  // Decodes the chosen frames and lays each strip, into `followers`' images too.
  Step make_strips(const std::vector<std::unique_ptr<Run>>& followers = {});
  // Writes the image under its temporary name; commit() renames it: seal() (the timeline
  // written, both files synced), land() (renamed), summarize().
  Step finish();
  Step commit();
  Step seal();
  Step land();
  void summarize();
  // Removes what land() put in place, when it replaced nothing: another image of the same
  // pass failed to land.
  void take_back();
  // Leaves nothing of a run that failed, and hands its error on.
  Error abandon(const Error& failure);
  void discard();
  FrameSource* clip() const { return clip_; }
  // The calibration of the image as an ImageJ TIFF states it, once the input is open.
  ImageJScale imagej_scale() const;
  // The image and records kept for scan::make, once committed; nothing when not kept.
  std::optional<Made> made();

 private:
  Step check_outputs();
  // A watch's state file: read before OUTPUT is checked, kept after each update.
  Step load_state();
  Step start_state();
  std::string state_file() const {
    return state_path(periods_ ? periods_->output_pattern() : o_.output);
  }
  Settings settings() const;
  // --split-at: the image of the period before finished, and the next one's begun, when a
  // picture's clock lies past the period's end.
  Step follow_period(int64_t k);
  Step open_period(int64_t start, int64_t k);
  // OUTPUT and the timeline are replaced: --force, or a watch going on from its state.
  bool force() const { return o_.force || resumed() != nullptr; }
  const WatchState* resumed() const { return keeper_ ? keeper_->resumed() : nullptr; }
  // What the input's pixels allow of OUTPUT and the options; whether it is an ImageJ TIFF.
  Step check_pixels();
  Step prepare_sinks();
  Step check_stream_only() const;
  Step check_watch() const;
  InputRequest watch_request() const;
  void start_strips(bool shown);
  Step lay(int64_t k, const AVFrame* picture, bool repeated);
  Step read_times();
  Step draw_ticks();
  strips::BytePlane streak_plane();
  const AVFrame* next_picture(int64_t k, int64_t& frame);
  TimelineHead timeline_head() const;
  void warn_damaged() const;
  Step ended_early(int64_t frame) const;
  int threads() const { return o_.threads > 0 ? o_.threads : default_threads(); }
  // The caller's word: stop now, leaving nothing; or end an input of unknown length here.
  int abandon_asked() const { return asked(stopping_.abandon); }
  int finish_asked() const { return asked(stopping_.finish); }
  base::ShouldStop should_stop() const {
    return [this] { return abandon_asked() != 0; };
  }
  Error interrupted() const {
    const int why = abandon_asked() != 0 ? abandon_asked() : finish_asked();
    return Error{ExitStatus::interrupted, "interrupted; no image written", why};
  }
  void say(const std::string& line) const {
    if (!o_.quiet) reporter_.say(line);
  }

  Request o_;  // OUTPUT and the timeline are each period's with --split-at
  Reporter& reporter_;
  const Stopping& stopping_;
  FrameSource* clip_;  // owned_, or an input another run reads
  std::unique_ptr<FrameSource> owned_;
  std::optional<Cutter> cutter_;  // made from the plan's slit when the strips start
  decode::Orientation orientation_;
  // Worked out before the first picture; its size is the whole image's, whatever is held
  // of it (a growing image's when it is done).
  Plan plan_;
  Format format_ = Format::png;
  bool imagej_ = false;  // OUTPUT is an ImageJ TIFF
  // Each strip is laid here alone, its share of the band beside it, and handed to the sinks.
  StripImage image_;
  SinkSet sinks_;
  GrowingSink* grown_ = nullptr;  // the sink of an image that grows, when it is one
  KeptImage* kept_ = nullptr;     // the sink that keeps the image in memory (Request::keep)
  // The sink that counts the strips of an image that grows, when it is one.
  Sink* growing_sink() const {
    return grown_ ? static_cast<Sink*>(grown_) : plan_.growing ? kept_ : nullptr;
  }
  Progress silent_;
  Progress* progress_ = &silent_;  // the reporter's, for the run that reads the input
  OddFrames odd_;  // the decoder's damaged frames are added at the end
  int64_t damaged_strips_ = 0, first_damaged_frame_ = -1;  // pictures cut short or damaged
  // The times of the input's frames, when --bin, --timeline or --ticks need them.
  std::optional<FrameTimes> times_;
  std::optional<TimeBand> band_;  // of --ticks, drawn whole before the first strip
  const StripTaker* take_ = nullptr;  // hand_out()'s: each strip goes there, no image is made
  std::optional<StateKeeper> keeper_;  // a watch's
  // --split-at: OUTPUT and the timeline are each period's.
  std::optional<Periods> periods_;
  FrameStamp period_stamp_;  // the picture's stamp counted from its period's start
  ImageSize strip_size_;     // the plan's: one strip of a growing image
};

// --skip-existing: an OUTPUT that is there (a file, not a folder) is an earlier run's.
bool Run::skipped() {
  struct stat st {};
  if (!o_.skip_existing || stat(o_.output.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  say(o_.output + ": exists; skipped (--skip-existing)");
  return true;
}

// --watch, --since and --until read an image folder or pattern's clocks.
Step Run::check_watch() const {
  const char* named = o_.watch ? "--watch" : o_.since.given ? "--since" : o_.until.given ? "--until" : nullptr;
  if (named != nullptr && (is_stream_input(o_.input, o_.input_format) ||
                           sequence_kind(o_.input) == SequenceKind::none))
    return base::usage(std::string(named) + ": " + o_.input +
                           " is not an image folder or pattern");
  return {};
}

InputRequest Run::watch_request() const {
  InputRequest request;
  request.input = o_.input;
  request.format = o_.input_format;
  request.options = o_.input_options;
  request.turn_images = !o_.no_rotate;
  request.z = o_.z;
  request.channel = o_.channel;
  request.interval = o_.frame_interval;
  request.watch = o_.watch;
  request.idle = o_.idle;
  const int64_t now = now_clock().value_or(WallTime{}).civil_micros;
  request.window = ClockWindow{resolve_since(o_, now), resolve_until(o_, now)};
  request.clock = [source = o_.clock](const std::string& path) -> std::optional<int64_t> {
    const std::optional<WallTime> at = picture_clock(path, source);
    return at ? std::optional<int64_t>(at->civil_micros) : std::nullopt;
  };
  request.now = [] { return now_clock().value_or(WallTime{}).civil_micros; };
  if (const WatchState* earlier = resumed()) {
    WatchResume resume;
    resume.taken.insert(earlier->paths.begin(), earlier->paths.end());
    resume.shape = earlier->shape;
    resume.orientation = earlier->orientation;
    for (const StripRecord& r : earlier->records) {
      if (!r.clock) continue;
      if (!resume.first_clock) resume.first_clock = r.clock->civil_micros;
      resume.last_clock = std::max(resume.last_clock.value_or(r.clock->civil_micros),
                                   r.clock->civil_micros);
    }
    request.resume = std::move(resume);
  }
  return request;
}

// What only a stream takes: --input-option (a clip file and an image sequence have no
// demuxer options to give), and standard input that is not a terminal (nobody types a
// stream; waiting for one would look like a hang).
Step Run::check_stream_only() const {
  const bool stream = is_stream_input(o_.input, o_.input_format);
  if (!o_.input_options.empty() && !stream) {
    const auto& [key, value] = o_.input_options.front();
    const char* what = sequence_kind(o_.input) != SequenceKind::none ? "an image sequence"
                                                                       : "a clip file";
    return base::usage("--input-option " + key + "=" + value + ": " + o_.input + " is " +
                       what + ", which takes no input option; with --format NAME it is "
                       "read as a stream, whose demuxer takes them");
  }
  if (o_.input == "-" && isatty(STDIN_FILENO))
    return base::usage("-: standard input is a terminal; give the stream through a pipe "
                       "(... | velmora-scan - OUTPUT) or a file");
  return {};
}

Step Run::check_outputs() {
  const std::optional<Format> format = output_format(o_.output);
  if (!format)
    return base::usage(o_.output + ": the output name must end in .png, .tif, .tiff, .dzi, .jpg, .jpeg or .webp");
  format_ = *format;
  if (!o_.compress_text.empty() && format_ != Format::tiff)
    return base::usage(o_.compress_text + ": only a TIFF OUTPUT (.tif, .tiff) is compressed so");
  if (o_.pyramid && format_ != Format::tiff)
    return base::usage("--pyramid: only for a TIFF OUTPUT (.tif, .tiff)");
  if (o_.imagej && format_ != Format::tiff)
    return base::usage("--imagej: only for a TIFF OUTPUT (.tif, .tiff)");
  if (format_ == Format::tiff && !tiff_can_write(o_.compress))
    return base::usage(o_.compress_text + ": this libtiff cannot write it");
  if (!o_.tile_format_text.empty() && format_ != Format::dzi)
    return base::usage(o_.tile_format_text + ": only for a Deep Zoom OUTPUT (.dzi)");
  const bool lossy = format_ == Format::jpeg || format_ == Format::webp ||
                    (format_ == Format::dzi && o_.tile_format == TileFormat::jpeg);
  if (!o_.quality_text.empty() && !lossy)
    return base::usage(o_.quality_text +
                           ": only for a JPEG or WebP OUTPUT, or JPEG tiles of a "
                           "Deep Zoom OUTPUT (.dzi)");
  if (base::Status ok = check_output(o_.output, force()); !ok) return base::failure(ok.error());
  if (format_ == Format::dzi && !force())
    if (struct stat st {}; lstat(dzi_files_folder(o_.output).c_str(), &st) == 0)
      return base::failed(dzi_files_folder(o_.output) + ": already exists; use --force to overwrite it");
  if (!o_.timeline.empty())
    if (base::Status ok = check_output(o_.timeline, force()); !ok) return base::failure(ok.error());
  if (o_.viewer && format_ != Format::dzi)
    return base::usage("--viewer: only for a Deep Zoom OUTPUT (.dzi)");
  if (o_.viewer) {
    if (base::Status ok = check_output(viewer_page_path(o_.output), force()); !ok)
      return base::failure(ok.error());
    if (struct stat st {}; !force() && lstat(viewer_folder(o_.output).c_str(), &st) == 0)
      return base::failed(viewer_folder(o_.output) + ": already exists; use --force to overwrite it");
  }
  return {};
}

// A watch whose OUTPUT is there goes on from the state file beside it, when that was made by
// the same command; one made by another is refused, never reused. Without OUTPUT the state
// is stale (OUTPUT was removed to start anew): it is replaced at the first update.
Settings Run::settings() const {
  Settings all = state_settings(o_);
  // With --split-at the command's names are the patterns, whatever the period.
  for (auto& [name, value] : all)
    if (periods_ && name == "OUTPUT") value = periods_->output_pattern();
    else if (periods_ && name == "--timeline") value = periods_->timeline_pattern();
  return all;
}

Step Run::load_state() {
  if (!o_.watch) return {};
  keeper_.emplace(state_file(), settings());
  // With --split-at the state is the last period's, which names its OUTPUT.
  if (Step bad = keeper_->load([this](const std::optional<int64_t>& period) {
        return !periods_ ? o_.output : period ? periods_->output_of(*period) : std::string();
      });
      !bad)
    return bad;
  if (periods_ && resumed()) {
    const int64_t period = *resumed()->period;
    periods_->resume(period, resumed()->records);
    o_.output = periods_->output_of(period);
    if (!periods_->timeline_pattern().empty()) o_.timeline = periods_->timeline_of(period);
  }
  return {};
}

Step Run::start_state() {
  if (!o_.watch || take_ || o_.output.empty() || grown_ == nullptr) return {};
  const auto* watched = dynamic_cast<const FolderWatch*>(clip_);
  if (watched == nullptr) return {};
  return keeper_->start(image_.size(), o_.slit.width, o_.clock,
                        PictureShape{clip_->width(), clip_->height(), clip_->deep()},
                        watched->orientation(),
                        periods_ ? periods_->current() : std::nullopt);
}

Step Run::prepare() {
  // An image kept in memory needs no OUTPUT; a timeline named beside it is still a file.
  if (!take_ && !o_.output.empty()) {
    if (Step bad = load_state(); !bad) return bad;
    if (Step bad = check_outputs(); !bad) return bad;
  } else if (!take_ && !o_.timeline.empty()) {
    if (base::Status ok = check_output(o_.timeline, o_.force); !ok)
      return base::failure(ok.error());
  }
  // A long clip is read through when opened, which a signal must be able to cut short.
  // A stream is read until it ends or the first SIGINT or SIGTERM ends it; while it opens,
  // that signal still abandons the run.
  if (clip_ == nullptr) {
    if (!o_.input_format.empty())
      if (base::Status known = check_input_format(o_.input_format); !known)
        return base::failure(known.error());
    if (Step bad = check_stream_only(); !bad) return bad;
    if (Step bad = check_watch(); !bad) return bad;
    InputOpening opened = open_input(watch_request(), threads(), [this] { return abandon_asked() != 0 || finish_asked() != 0; });
    if (abandon_asked() != 0 || finish_asked() != 0) return base::failure(interrupted());
    if (!opened) return base::failure(opened.error());
    owned_ = std::move(*opened);
    clip_ = owned_.get();
  }
  if (!o_.no_rotate) {
    orientation_ = clip_->display().orientation;
    if (clip_->display().odd && owned_)
      say(o_.input + ": warning: " + odd_turn(clip_->display()));
  }
  if (Step bad = check_pixels(); !bad) return bad;
  const SourceHeader header{clip_->width(), clip_->height(), clip_->deep(), orientation_,
                            clip_->length_known(), &clip_->frames(), clip_->pixel_bytes()};
  auto place = place_slit(o_, header, take_ != nullptr);
  if (!place) return base::failure(place.error());
  odd_.shown_size =
      std::to_string(place->shown_width) + " x " + std::to_string(place->shown_height);
  if (clip_->length_known())
    if (Step bad = read_times(); !bad) return bad;
  auto planned = plan_run(o_, header, std::move(*place), times_ ? &*times_ : nullptr,
                          take_ != nullptr, PlanLimits{format_, o_.bin > 0 ? available_memory() : -1},
                          should_stop());
  if (!planned)
    return base::failure(planned.error().status == ExitStatus::interrupted ? interrupted() : planned.error());
  plan_ = std::move(*planned);
  if (!o_.ffmpeg_decoder) clip_->read_only(plan_.read_area);
  return prepare_sinks();
}

Step Run::check_pixels() {
  const int pb = clip_->pixel_bytes();
  const bool grey = strips::is_grey(pb);
  imagej_ = !o_.output.empty() && format_ == Format::tiff && (o_.imagej || grey);
  const auto refuse = [](const std::string& why) { return base::usage(why); };
  if (grey && !o_.output.empty() && format_ != Format::png && format_ != Format::tiff)
    return refuse(o_.input + ": a grey stack's values are written to a PNG or TIFF OUTPUT only");
  if (strips::is_float(pb) && !o_.output.empty() && format_ != Format::tiff)
    return refuse(o_.input + ": 32-bit float values are written to a TIFF OUTPUT only (" +
                  o_.output + " cannot hold them)");
  if (strips::is_float(pb) && o_.stats)
    return refuse("--stats: not for 32-bit float values; the figures are summed as whole samples");
  if (grey && o_.ticks)
    return refuse("--ticks: not on a grey stack's image, whose pixels are its measurements");
  if (imagej_ && (o_.pyramid || !o_.compress_text.empty()))
    return refuse(std::string(o_.pyramid ? "--pyramid" : o_.compress_text) +
                  ": an ImageJ TIFF is stored in uncompressed strips");
  if (imagej_ && (o_.flush.given || !clip_->length_known()))
    return refuse(std::string(o_.flush.given ? o_.flush.text : o_.input) +
                  ": an ImageJ TIFF is written once, whole, from an input of known length");
  if (!imagej_ && !o_.output.empty() && !o_.pixel_size_text.empty())
    return refuse(o_.pixel_size_text + ": only for an ImageJ TIFF OUTPUT");
  return {};
}

// X is the distance along the slit (one sample a pixel), Y the time: each of a strip's
// lines takes its share of the strip's time. With time across, the two change places.
ImageJScale Run::imagej_scale() const {
  std::string unit = o_.pixel_unit;
  double size = o_.pixel_size;
  bool time_known = o_.frame_interval > 0;
  if (const auto* stack = dynamic_cast<const TiffStack*>(clip_)) {
    if (size == 0) {
      unit = stack->calibration().unit;
      size = stack->calibration().pixel_size;
    }
    time_known = time_known || stack->calibration().interval > 0;
  } else {
    time_known = clip_->frames().fps > 0;
  }
  const double frame_time = clip_->frames().fps > 0 ? 1 / clip_->frames().fps : 0;
  const double strip_time = o_.bin > 0 ? o_.bin : static_cast<double>(o_.every) * frame_time;
  const double line_time = strip_time / static_cast<double>(std::max<int64_t>(o_.slit.width, 1));
  ImageJScale scale;
  if (size > 0 && time_known && line_time > 0) {
    const bool down = o_.cut == Cut::horizontal;
    scale.x_unit = down ? unit : "sec";
    scale.y_unit = down ? "sec" : unit;
    scale.x_size = down ? size : line_time;
    scale.y_size = down ? line_time : size;
  } else if (size > 0) {
    scale.x_unit = scale.y_unit = unit;
    scale.x_size = scale.y_size = size;
  } else if (time_known && line_time > 0) {
    // The distance not known: pixels across, the time still calibrated.
    const bool down = o_.cut == Cut::horizontal;
    scale.x_unit = down ? "pixel" : "sec";
    scale.y_unit = down ? "sec" : "pixel";
    scale.x_size = down ? 1 : line_time;
    scale.y_size = down ? line_time : 1;
  }
  if (time_known) scale.finterval = strip_time;
  return scale;
}

// The sinks of the run, each ready for the image; the band of time marks drawn.
Step Run::prepare_sinks() {
  if (strip_size_.width == 0) strip_size_ = plan_.size;
  // An image kept in memory only is named so in messages.
  const SinkSetting setting{o_.output.empty() ? "the image" : o_.output,
                            o_.cut,        o_.slit.width,
                            threads(),     force(),       o_.compress,
                            should_stop(), [this] { return interrupted(); },
                            o_.tile_format, o_.quality,
                            o_.watch ? std::optional<ClockSource>(o_.clock) : std::nullopt,
                            imagej_ ? imagej_scale() : ImageJScale{}};
  if (take_) {
    sinks_.add(strip_taker([this](const Laid& laid) {
      const ImageSize& size = laid.strip.size();
      Strip strip;
      strip.index = laid.k;
      strip.frame = laid.stamp ? laid.stamp->frame : -1;
      strip.seconds = laid.stamp ? laid.stamp->seconds : 0.0;
      strip.width = static_cast<int>(size.width);
      strip.height = static_cast<int>(size.height);
      strip.pixel_bytes = size.pixel_bytes;
      strip.pixels = laid.strip.row(0);
      if (laid.stamp) strip.file = laid.stamp->file;
      if (laid.note) strip.note = *laid.note;
      strip.clock = laid.arrived;
      return (*take_)(strip);
    }));
  } else if (o_.output.empty()) {
    // Kept in memory only.
  } else if (plan_.growing) {
    auto grown = std::make_unique<GrowingSink>(setting, format_, o_.flush, clip_->length_known());
    grown_ = grown.get();
    sinks_.add(std::move(grown));
  } else if (format_ == Format::jpeg || format_ == Format::webp) {
    sinks_.add(format_ == Format::jpeg ? held_jpeg(setting) : held_webp(setting));
  } else if (format_ == Format::dzi) {
    sinks_.add(deep_zoom(setting));
  } else if (imagej_) {
    sinks_.add(held_imagej(setting));
  } else if (format_ == Format::tiff) {
    sinks_.add(o_.pyramid ? tiff_pyramid(setting) : tiff_bands(setting));
  } else if (o_.cut == Cut::horizontal) {
    sinks_.add(streamed_png(setting));
  } else {
    sinks_.add(held_png(setting));
  }
  if (o_.keep && !take_) {
    auto kept = std::make_unique<KeptImage>(setting, plan_.growing, plan_.records,
                                            sinks_.empty() ? nullptr : &sinks_.front());
    kept_ = kept.get();
    sinks_.add(std::move(kept));
  }
  if (Step ready = sinks_.begin(plan_.size, image_); !ready) return ready;
  if (Step bad = draw_ticks(); !bad) return bad;
  // An origin on the clock needs strips that have one.
  if (o_.viewer && o_.time_origin.clock && !plan_.records.empty() &&
      std::none_of(plan_.records.begin(), plan_.records.end(),
                   [](const StripRecord& r) { return r.clock.has_value(); }))
    return base::usage(o_.time_origin.text + ": " + o_.input +
                           " has no clock; give the origin in seconds");
  const Sink* timeline = nullptr;
  if (!o_.timeline.empty() && !take_) {
    timeline = &sinks_.add(timeline_file(setting, o_.timeline, std::move(plan_.records),
                                   [this] { return timeline_head(); },
                                   StripStatsSetting{o_.stats ? strips::components_of(plan_.size.pixel_bytes) : 0, plan_.band}));
  }
  // After the timeline, whose records it shows, and after the tiles, which it shows.
  if (o_.viewer && !take_ && format_ == Format::dzi) {
    if (Step ready = sinks_.add(viewer_sink(setting, timeline, o_.time_origin)).begin(plan_.size, image_); !ready)
      return ready;
  }
  return start_state();
}

TimelineHead Run::timeline_head() const {
  TimelineHead head;
  head.input = o_.input;
  head.width = plan_.size.width - (o_.cut == Cut::horizontal ? plan_.band : 0);
  head.height = plan_.size.height - (o_.cut == Cut::vertical ? plan_.band : 0);
  head.cut = o_.cut == Cut::vertical ? "vertical" : "horizontal";
  head.slit_position = plan_.place.shown_slit;
  head.slit_width = o_.slit.width;
  if (runs_on_lines(slit_request(o_)))
    head.line = o_.lines.empty() ? o_.slit.text : o_.lines.front().text;
  head.band = plan_.band;
  return head;
}

// The times of the input's frames, when --bin, --timeline, --ticks or a time in seconds
// on an image sequence needs them. A sequence's clock is chosen once for all its images.
Step Run::read_times() {
  // The files the source reads, listed once, when it is an image sequence.
  const std::vector<std::string>* files = clip_->image_files();
  const bool seconds = (o_.from.given && o_.from.seconds) || (o_.to.given && o_.to.seconds);
  if (o_.bin == 0 && o_.timeline.empty() && !o_.ticks && !o_.keep && !(seconds && files != nullptr))
    return {};
  if (files == nullptr) {
    times_ = FrameTimes::of_clip(clip_->frames(),
                                 clip_clock(o_.input, o_.clock, clip_->creation_time()));
    return {};
  }
  auto times = FrameTimes::of_images(clip_->frames(), *files, o_.clock);
  if (!times) return base::failure(times.error().within(o_.input + ": "));
  times_ = std::move(*times);
  if (times_->untimed() > 0 && owned_)
    say(o_.input + ": warning: " + std::to_string(times_->untimed()) + " image(s) have no " +
        clock_name(times_->source()) + ", the first " + times_->first_untimed() +
        "; they are laid in order without a time (note no-clock)" +
        (o_.bin > 0 ? ", and left out of --bin's intervals" : ""));
  return {};
}

// The band is drawn before any strip: every strip's time is known from the clip's index.
Step Run::draw_ticks() {
  if (plan_.band == 0) return {};
  const bool vertical = o_.cut == Cut::vertical;
  auto band = TimeBand::draw(plan_.records, vertical,
                             vertical ? plan_.size.height - plan_.band : plan_.size.width - plan_.band,
                             o_.slit.width, plan_.size.pixel_bytes, o_.output);
  if (!band) return base::failure(band.error());
  band_ = std::move(*band);
  if (!band_->marked())
    say(o_.output + ": warning: --ticks: no whole second of the strips' times lies on the "
                    "image; the band has no marks");
  return {};
}

// The image without the band of time marks: where strips go.
strips::BytePlane Run::streak_plane() {
  strips::BytePlane plane = image_.plane();
  if (plan_.band > 0 && o_.cut == Cut::vertical) plane.height -= plan_.band;
  if (plan_.band > 0 && o_.cut == Cut::horizontal) plane.width -= plan_.band * plan_.size.pixel_bytes;
  return plane;
}

// The picture of strip k: with --bin the frames between intervals' first ones are passed by.
const AVFrame* Run::next_picture(int64_t k, int64_t& frame) {
  const AVFrame* picture = clip_->next(frame);
  if (o_.bin > 0)
    while (picture != nullptr && frame < plan_.strip_frames.frames[k] && abandon_asked() == 0)
      picture = clip_->next(frame);
  // A watched folder's odd image is named as it arrives, not only counted at the end.
  for (const std::string& line : clip_->news()) {
    progress_->clear();
    say(line);
  }
  return picture;
}

// Lays one strip per chosen frame into the image, and hands each picture to `followers`,
// the runs of the other slits. A picture of another size than the first (clips joined end
// to end) is scaled whole to the first picture's size and cut at the same place, as a player
// shows it in one window. A picture that cannot be converted repeats the strip before it,
// as a damaged frame does; the first strip has none and stays black.
Step Run::make_strips(const std::vector<std::unique_ptr<Run>>& followers) {
  if (!clip_->choose(plan_.choice)) {
    if (abandon_asked() != 0) return base::failure(interrupted());
    return base::failed(o_.input + ": cannot go to frame " + std::to_string(plan_.choice.from));
  }
  std::vector<Run*> all{this};
  for (const auto& run : followers) all.push_back(run.get());
  for (Run* run : all) run->start_strips(run == this);
  // The strips of the state files, handed to the sinks as they were laid: no image decoded.
  for (Run* run : all)
    if (run->keeper_)
      if (Step bad = run->keeper_->restore(run->image_, run->sinks_); !bad) return bad;
  const auto restored_of = [](const Run& run) {
    return run.keeper_ ? run.keeper_->restored() : 0;
  };
  const int64_t restored = restored_of(*this);
  // Several slits read one watch: their states must have stopped at the same image.
  for (const auto& run : followers)
    if (restored_of(*run) != restored)
      return base::failed(run->state_file() + ": holds another number of strips than " +
                              state_file() + "; remove the OUTPUTs to start anew");
  for (int64_t k = restored; k < plan_.strips; ++k) {
    if (abandon_asked() != 0) return base::failure(interrupted());
    if (finish_asked() != 0) break;
    int64_t frame = 0;
    const bool gap = o_.bin > 0 && plan_.strip_frames.frames[k] < 0;
    const AVFrame* picture = gap ? nullptr : next_picture(k, frame);
    if (abandon_asked() != 0) return base::failure(interrupted());
    // A stream ends where it ends, or where a signal ended it.
    if (picture == nullptr && !gap && !clip_->length_known() && !clip_->failure()) break;
    if (picture == nullptr && !gap)
      return ended_early(o_.bin > 0 ? plan_.strip_frames.frames[k] : plan_.choice.from + k * plan_.choice.every);
    // A picture that did not decode shows the last good one again.
    const bool repeated = picture != nullptr && clip_->stamp().repeat;
    if (periods_)
      if (Step bad = follow_period(k); !bad) return bad;
    if (Step bad = lay(periods_ ? k - periods_->first_strip() : k, picture, repeated); !bad)
      return bad;
    for (const auto& run : followers)
      if (Step bad = run->lay(k, picture, repeated); !bad) return bad;
    progress_->update(k + 1);
  }
  return {};
}

void Run::start_strips(bool shown) {
  cutter_.emplace(o_.cut, o_.slit.width, clip_->pixel_bytes(), clip_->width(), clip_->height(),
                  plan_.place.slit, std::move(plan_.place.oriented), std::move(plan_.lines));
  if (shown && !o_.quiet) progress_ = &reporter_.progress();
  progress_->start(clip_->length_known() ? plan_.strips : 0);
}

// Strip k of `picture`; null for a --bin interval without a frame. The strip is laid alone
// in the one-strip image and handed to every sink; a picture that cannot be converted
// leaves the strip before it there, to go again.
Step Run::lay(int64_t k, const AVFrame* picture, bool repeated) {
  const bool gap = picture == nullptr;
  const strips::BytePlane image = streak_plane();
  std::optional<StripNote> note;
  if (repeated) note = StripNote::repeat;
  if (!gap && !repeated && clip_->stamp().damaged) {
    note = StripNote::damaged;
    // An image sequence names its damaged images in warnings of its own.
    if (clip_->stamp().file.empty() && damaged_strips_++ == 0)
      first_damaged_frame_ = clip_->stamp().frame;
  }
  const Cutter::Outcome cut = gap ? Cutter::Outcome{} : cutter_->cut(picture, k, image);
  if (gap) {
    // A --bin interval without a frame: a black strip.
    for (int64_t y = 0; y < image.height; ++y)
      std::fill_n(image.pixels + y * image.stride, image.width, uint8_t{0});
  } else if (cut.laid) {
    if (cut.scaled) ++odd_.scaled;
  } else if (k > 0) {
    note = StripNote::repeat;
    ++odd_.damaged;
  } else {
    ++odd_.blank;  // the strip is allocated black
  }
  if (band_) band_->lay(k, image_.plane());
  const FrameStamp* stamp = gap ? nullptr : periods_ ? &period_stamp_ : &clip_->stamp();
  const Laid laid{k, image_, stamp, note,
                  clip_->length_known() || gap ? std::nullopt : now_clock()};
  if (Step taken = sinks_.take(laid); !taken) return taken;
  if (keeper_) return keeper_->keep(laid, grown_ ? grown_->flushed() : 0);
  return {};
}

Step Run::follow_period(int64_t k) {
  const FrameStamp& stamp = clip_->stamp();
  const std::optional<WallTime> clock = picture_clock(stamp.file, o_.clock);
  if (!clock && !periods_->current())
    return base::failed(stamp.file + ": " + o_.split_text +
                            ": the first image has no clock to name its period by");
  if (const std::optional<int64_t> start = periods_->opens(clock)) {
    if (periods_->current()) {
      if (Step bad = finish(); !bad) return bad;
      if (Step bad = commit(); !bad) return bad;
    }
    if (Step bad = open_period(*start, k); !bad) return bad;
  }
  period_stamp_ = periods_->restamp(stamp, clock);
  return {};
}

Step Run::open_period(int64_t start, int64_t k) {
  sinks_.clear();  // the sinks made before a period was known, unless they landed
  grown_ = nullptr;
  kept_ = nullptr;
  if (keeper_) keeper_->reset();
  periods_->open(start, k, clip_->stamp().frame);
  o_.output = periods_->output_of(start);
  o_.timeline = periods_->timeline_of(start);
  if (base::Status ok = check_output(o_.output, o_.force); !ok)
    return base::failure(ok.error());
  if (!o_.timeline.empty())
    if (base::Status ok = check_output(o_.timeline, o_.force); !ok)
      return base::failure(ok.error());
  plan_.size = strip_size_;
  return prepare_sinks();
}

Step Run::ended_early(int64_t frame) const {
  if (const auto why = clip_->failure()) return base::failed(*why);
  const std::string where =
      o_.input + ": the clip breaks off before frame " + std::to_string(frame);
  if (clip_->broke_off() && clip_->read_error() != 0)
    return base::failed(decode::av_error_text(where, clip_->read_error()));
  return base::failed(where);
}

// Strips of pictures that end early (an input that broke off inside one) or that the
// decoder found damaged hold what it made of them: never without a word.
void Run::warn_damaged() const {
  if (damaged_strips_ > 0 && owned_)
    say(o_.input + ": warning: " + std::to_string(damaged_strips_) +
        " strip(s) from damaged or cut-off pictures, the first at frame " +
        std::to_string(first_damaged_frame_));
  if (clip_->length_known() || !owned_) return;
  const std::string broke =
      o_.input + ": warning: the input broke off; the image holds the strips read before";
  if (clip_->read_error() != 0)
    say(decode::av_error_text(broke, clip_->read_error()));
  else if (clip_->broke_off())
    say(broke + " (inside a picture)");
}

Step Run::finish() {
  if (const Sink* growing = growing_sink()) {
    // With no frame there is no image to finish, whatever ended the stream.
    if (growing->strips() == 0 && finish_asked() != 0) return base::failure(interrupted());
    if (growing->strips() == 0) return base::failed(o_.input + ": no frame came");
    if (grown_) plan_.size = grown_->size();
    // A signal may have ended the run before the strips planned were all there.
    if (plan_.records.size() > static_cast<size_t>(growing->strips()))
      plan_.records.resize(static_cast<size_t>(growing->strips()));
  }
  return sinks_.finish();
}

std::optional<Made> Run::made() {
  if (kept_ == nullptr) return std::nullopt;
  Made made = kept_->take_made();
  made.request = o_;
  made.request.keep = false;
  return made;
}

Step Run::commit() {
  if (Step bad = seal(); !bad) return bad;
  if (Step bad = land(); !bad) return bad;
  summarize();
  return {};
}

Step Run::seal() {
  if (abandon_asked() != 0) return base::failure(interrupted());
  return sinks_.seal();
}

Step Run::land() {
  if (abandon_asked() != 0) return base::failure(interrupted());
  if (Step bad = sinks_.land(); !bad) return bad;
  // OUTPUT in place holds every strip: the state says so too.
  if (keeper_) return keeper_->landed(grown_ ? grown_->strips() : 0);
  return {};
}

void Run::take_back() { sinks_.take_back(); }

void Run::summarize() {
  OddFrames odd = odd_;
  odd.damaged += clip_->damaged();
  const TempOutput* file = sinks_.front().file();
  const Sink* growing = growing_sink();
  progress_->summary(growing ? growing->strips() : plan_.strips, describe_size(plan_.size),
                     file ? file->bytes() : 0, odd);
  warn_damaged();
  if (owned_)
    for (const std::string& warning : clip_->warnings()) say(o_.input + ": warning: " + warning);
  if (growing && finish_asked() != 0 && owned_)
    say(o_.input + ": stopped by " + (finish_asked() == SIGINT ? "SIGINT" : "SIGTERM") +
        " after " + std::to_string(growing->strips()) + " strips; the image holds them");
}

void Run::discard() { sinks_.discard(); }

Error Run::abandon(const Error& failure) {
  discard();
  progress_->clear();
  return failure;
}

Step Run::hand_out(const StripTaker& take) {
  take_ = &take;
  if (Step bad = prepare(); !bad) return base::failure(abandon(bad.error()));
  if (Step bad = make_strips(); !bad) return base::failure(abandon(bad.error()));
  warn_damaged();
  if (owned_)
    for (const std::string& warning : clip_->warnings()) say(o_.input + ": warning: " + warning);
  return {};
}

Step Run::go() {
  if (skipped()) return {};
  if (Step bad = prepare(); !bad) return base::failure(abandon(bad.error()));
  if (Step bad = make_strips(); !bad) return base::failure(abandon(bad.error()));
  if (Step bad = finish(); !bad) return base::failure(abandon(bad.error()));
  if (Step bad = commit(); !bad) return base::failure(abandon(bad.error()));
  return {};
}

// Several slits: the first run opens and decodes the input and hands each picture to the
// others. Every image is written under its temporary name first and synced, and renamed only
// when all are complete; a failure or an interrupt leaves none, and an image that cannot be
// put in place (one that appeared meanwhile, without --force) takes back those already put.
// With --skip-existing the images already there are skipped and the others made.
Step run_several(const std::vector<Request>& all, Reporter& reporter,
                    const Stopping& stopping, std::vector<Made>& kept_images) {
  std::vector<Request> each;
  for (const Request& o : all)
    if (!Run(o, reporter, stopping).skipped()) each.push_back(o);
  if (each.empty()) return {};
  std::vector<std::unique_ptr<Run>> runs;
  auto failed = [&](Run& run, const Error& failure) {
    for (auto& other : runs)
      if (other.get() != &run) other->discard();
    return run.abandon(failure);
  };
  for (const Request& o : each) {
    runs.push_back(std::make_unique<Run>(o, reporter, stopping,
                                         runs.empty() ? nullptr : runs[0]->clip()));
    if (Step bad = runs.back()->prepare(); !bad) return base::failure(failed(*runs.back(), bad.error()));
  }
  Run& first = *runs.front();
  // The first run lays its followers' strips; they are handed back below.
  std::vector<std::unique_ptr<Run>> others(std::make_move_iterator(runs.begin() + 1),
                                           std::make_move_iterator(runs.end()));
  runs.resize(1);
  const Step made = first.make_strips(others);
  for (auto& run : others) runs.push_back(std::move(run));
  if (!made) return base::failure(failed(first, made.error()));
  for (auto& run : runs)
    if (Step bad = run->finish(); !bad) return base::failure(failed(*run, bad.error()));
  for (auto& run : runs)
    if (Step bad = run->seal(); !bad) return base::failure(failed(*run, bad.error()));
  for (size_t i = 0; i < runs.size(); ++i) {
    if (Step bad = runs[i]->land(); !bad) {
      for (size_t j = 0; j < i; ++j) runs[j]->take_back();
      return base::failure(failed(*runs[i], bad.error()));
    }
  }
  for (auto& run : runs) {
    run->summarize();
    if (auto kept = run->made()) kept_images.push_back(std::move(*kept));
  }
  return {};
}

// A stack's kymograph runs down, time from the top, as microscopists read one, unless the
// time axis or the cut is given. Files only: a stream is never a stack.
Request with_stack_axis(Request o) {
  if (o.time_given || o.cut_given || !o.input_format.empty() || is_stream_input(o.input, o.input_format) ||
      !TiffStack::named_stack(o.input))
    return o;
  o.time_down = true;
  o.cut = Cut::horizontal;
  return o;
}

// Several channels of a stack: each its own run, its image kept, then all written together
// as the channels of one ImageJ TIFF (pages in channel order: one time point, one slice),
// or none of them.
Step run_channels(const Request& request, const std::vector<int>& channels, Reporter& reporter,
                  const Stopping& stopping, std::vector<Made>& made) {
  const std::string what = request.input + ": " + std::to_string(channels.size()) + " channels";
  if (request.order.size() > 1)
    return base::usage(what + " are made along one slit; pick one with --channel N");
  if (!request.timeline.empty())
    return base::usage("--timeline: " + what + "; pick one with --channel N for it");
  if (request.pyramid || !request.compress_text.empty())
    return base::usage(std::string(request.pyramid ? "--pyramid" : request.compress_text) +
                           ": an ImageJ TIFF is stored in uncompressed strips");
  if (request.flush.given) return base::usage(request.flush.text + ": " + what + "; not with several");
  if (!request.output.empty()) {
    if (output_format(request.output) != Format::tiff)
      return base::usage(what + " are written to a TIFF OUTPUT (.tif) only, as the "
                                "channels of an ImageJ TIFF; pick one with --channel N");
    struct stat st {};
    if (request.skip_existing && stat(request.output.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
      if (!request.quiet) reporter.say(request.output + ": exists; skipped (--skip-existing)");
      return {};
    }
    if (base::Status ok = check_output(request.output, request.force); !ok)
      return base::failure(ok.error());
  }
  std::vector<Made> kept;
  ImageJScale scale;
  for (int channel : channels) {
    Request one = with_line_layout(with_selection_width(request));
    one.channel = channel;
    one.channels.clear();
    one.output.clear();
    one.keep = true;
    Run run(one, reporter, stopping);
    if (Step failed = run.go(); !failed) return failed;
    if (kept.empty()) scale = run.imagej_scale();
    std::optional<Made> image = run.made();
    if (!image) return base::failed(what + ": a channel's image was not kept");
    image->request.output = request.output;
    kept.push_back(std::move(*image));
  }
  if (!request.output.empty()) {
    TempOutput output(request.output);
    if (base::Status ok = output.create(); !ok) return base::failure(ok.error());
    std::vector<const StripImage*> images;
    for (const Made& m : kept) images.push_back(&m.image);
    if (asked(stopping.abandon) != 0)
      return base::failure(Error{ExitStatus::interrupted, "interrupted; no image written", asked(stopping.abandon)});
    if (base::Status ok = write_imagej_tiff(fileno(output.stream()), images, scale); !ok)
      return base::failure(ok.error().within(request.output + ": "));
    if (base::Status ok = output.commit(request.force); !ok) return base::failure(ok.error());
  }
  if (request.keep)
    for (Made& m : kept) made.push_back(std::move(m));
  return {};
}

// A request's run, one slit or several; `made` gets what the runs kept.
Step run_request(const Request& given, Reporter& reporter, const Stopping& stopping,
                    std::vector<Made>& made) {
  auto read = with_selections(with_stack_axis(given));
  if (!read) return base::failure(read.error());
  const Request& request = *read;
  // A stack's channels, when it has several and one is not picked: every one, or the list.
  const bool stack = request.input_format.empty() && !request.watch &&
                     !is_stream_input(request.input, request.input_format) &&
                     TiffStack::named_stack(request.input);
  if (!request.channels.empty() && !stack)
    return base::failed(request.input + ": --z, --channel and --frame-interval are for a TIFF stack of many pages");
  if (stack && request.channel == 0) {
    std::vector<int> channels = request.channels;
    if (channels.empty())
      for (int c = 1; c <= TiffStack::channels_in(request.input); ++c) channels.push_back(c);
    if (channels.size() > 1) return run_channels(request, channels, reporter, stopping, made);
  }
  if (request.order.size() > 1) {
    std::vector<Request> each = each_slit(request);
    for (Request& o : each) o = with_line_layout(with_selection_width(o));
    return run_several(each, reporter, stopping, made);
  }
  const Request laid = with_line_layout(with_selection_width(request));
  Run run(laid, reporter, stopping);
  if (Step failed = run.go(); !failed) return failed;
  if (auto kept = run.made()) made.push_back(std::move(*kept));
  return {};
}

}  // namespace

int default_threads() {
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 64u));
}

base::Result<void, Error> run(const Request& given, Reporter& reporter,
                              const Stopping& stopping) {
  if (makes_video(given)) return run_video(given, reporter, stopping);
  if (given.nights) return run_nights(given, reporter, stopping);
  std::vector<Made> made;
  return run_request(given, reporter, stopping, made);
}

base::Result<std::vector<Made>, Error> make(const Request& request, Reporter& reporter,
                                            const Stopping& stopping) {
  if (makes_video(request))
    return base::usage("a time-displaced clip is written, not kept: run it");
  Request kept = request;
  kept.keep = true;
  std::vector<Made> made;
  if (Step ran = run_request(kept, reporter, stopping, made); !ran) return base::failure(ran.error());
  return made;
}

base::Result<void, Error> for_each_strip(const Request& request, Reporter& reporter,
                                         const StripTaker& take, const Stopping& stopping) {
  if (makes_video(request))
    return base::usage("a time-displaced clip is written, not handed out: run it");
  auto read = with_selections(with_stack_axis(request));
  if (!read) return base::failure(read.error());
  const Request laid = with_line_layout(
      with_selection_width(read->order.size() > 1 ? each_slit(*read).front() : *read));
  return Run(laid, reporter, stopping).hand_out(take);
}

base::Result<void, Error> write(const StripImage& image, const Request& request,
                                const Stopping& stopping) {
  const Request& o = request;
  const std::optional<Format> format = output_format(o.output);
  if (!format)
    return base::usage(o.output + ": the output name must end in .png, .tif or .tiff");
  if (!o.compress_text.empty() && *format != Format::tiff)
    return base::usage(o.compress_text + ": only a TIFF OUTPUT (.tif, .tiff) is compressed so");
  if (base::Status ok = check_output(o.output, o.force); !ok)
    return base::failure(ok.error());
  const base::ShouldStop stop = [&] { return asked(stopping.abandon) != 0; };
  const auto failed = [&](const Error& error) {
    if (stop()) return base::failure(Error{ExitStatus::interrupted, "interrupted; no image written", asked(stopping.abandon)});
    return base::failure(error.within(o.output + ": "));
  };
  TempOutput output(o.output);
  if (base::Status ok = output.create(); !ok) return base::failure(ok.error());
  const int threads = o.threads > 0 ? o.threads : default_threads();
  if (*format == Format::png) {
    // As the run's PNG: rows deflated in the same chunks, whichever way the strips ran.
    if (base::Status ok = write_png(output.stream(), image, threads, png_chunk_bytes, stop); !ok)
      return failed(ok.error());
  } else {
    const ImageSize& size = image.size();
    auto bands = TiffBands::open(fileno(output.stream()), size, o.cut, o.compress,
                                 needs_bigtiff(size, o.compress));
    if (!bands) return failed(bands.error());
    // Strip by strip, as the run hands them to its TIFF.
    const bool vertical = o.cut == Cut::vertical;
    const int64_t lines = o.slit.width;
    const int64_t along = vertical ? size.width : size.height;
    for (int64_t first = 0; first < along; first += lines) {
      if (stop()) return failed(Error{ExitStatus::interrupted, "interrupted"});
      const int64_t n = std::min(lines, along - first);
      const strips::ConstBytePlane strip =
          vertical ? strips::ConstBytePlane{image.row(0) + first * size.pixel_bytes,
                                            n * size.pixel_bytes, size.height, image.stride()}
                   : strips::ConstBytePlane{image.row(first), image.stride(), n, image.stride()};
      if (auto added = (*bands)->add(strip); !added) return failed(added.error());
    }
    if (auto done = (*bands)->finish(); !done) return failed(done.error());
    bands->reset();
  }
  if (base::Status ok = output.commit(o.force); !ok) return base::failure(ok.error());
  return {};
}

bool reads_stream(const Request& request) {
  return request.watch || is_stream_input(request.input, request.input_format);
}

}  // namespace scan
