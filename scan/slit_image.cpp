// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/slit_image.h"

#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cmath>

#include "scan/input/folder_watch.h"
#include "scan/input/image_sequence.h"
#include "scan/input/tiff_stack.h"
#include "scan/output/output_file.h"
#include "scan/output/tiff_output.h"
#include "scan/slit/line_strips.h"
#include "scan/time/picture_clock.h"
#include "scan/viewer_page.h"
#include "strips/pixel_kind.h"

namespace scan {
namespace {

using strips::Cut;

std::string describe_size(const ImageSize& size) {
  return std::to_string(size.width) + " x " + std::to_string(size.height) +
         (size.pixel_bytes == 6 ? " 16-bit RGB" : " 8-bit RGB");
}

}  // namespace

SlitImage::SlitImage(const Request& o, Reporter& reporter, const Stopping& stopping,
                     const std::function<base::Result<void, Error>(const Strip&)>* take)
    : o_(o), reporter_(reporter), asked_(stopping), take_(take) {
  if (o.split_at) periods_.emplace(o.output, o.timeline, *o.split_at, o.utc);
}

// --skip-existing: an OUTPUT that is there (a file, not a folder) is an earlier run's.
bool SlitImage::skipped() {
  struct stat st {};
  if (!o_.skip_existing || stat(o_.output.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  say(o_.output + ": exists; skipped (--skip-existing)");
  return true;
}

base::Status SlitImage::check_outputs() {
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
Settings SlitImage::settings() const {
  Settings all = state_settings(o_);
  // With --split-at the command's names are the patterns, whatever the period.
  for (auto& [name, value] : all)
    if (periods_ && name == "OUTPUT") value = periods_->output_pattern();
    else if (periods_ && name == "--timeline") value = periods_->timeline_pattern();
  return all;
}

base::Status SlitImage::load_state() {
  if (!o_.watch) return {};
  keeper_.emplace(state_file(), settings());
  // With --split-at the state is the last period's, which names its OUTPUT.
  if (base::Status bad = keeper_->load([this](const std::optional<int64_t>& period) {
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

base::Status SlitImage::start_state() {
  if (!o_.watch || take_ || o_.output.empty() || grown_ == nullptr) return {};
  const auto* watched = dynamic_cast<const FolderWatch*>(clip_);
  if (watched == nullptr) return {};
  return keeper_->start(image_.size(), o_.slit.width, o_.clock,
                        PictureShape{clip_->width(), clip_->height(), clip_->deep()},
                        watched->orientation(),
                        periods_ ? periods_->current() : std::nullopt);
}

base::Status SlitImage::check() {
  // An image kept in memory needs no OUTPUT; a timeline named beside it is still a file.
  if (!take_ && !o_.output.empty()) {
    if (base::Status bad = load_state(); !bad) return bad;
    if (base::Status bad = check_outputs(); !bad) return bad;
  } else if (!take_ && !o_.timeline.empty()) {
    if (base::Status ok = check_output(o_.timeline, o_.force); !ok)
      return base::failure(ok.error());
  }
  return {};
}

base::Status SlitImage::prepare(Reading& input, bool reads) {
  input_ = &input;
  clip_ = &input.source();
  reads_ = reads;
  orientation_ = input.orientation();
  if (base::Status bad = check_pixels(); !bad) return bad;
  scale_ = calibration();
  const SourceHeader header{clip_->width(), clip_->height(), clip_->deep(), orientation_,
                            clip_->length_known(), &clip_->frames(), clip_->pixel_bytes()};
  auto place = place_slit(o_, header, take_ != nullptr);
  if (!place) return base::failure(place.error());
  odd_.shown_size =
      std::to_string(place->shown_width) + " x " + std::to_string(place->shown_height);
  if (clip_->length_known())
    if (base::Status bad = read_times(); !bad) return bad;
  auto planned = plan_run(o_, header, std::move(*place), times_ ? &*times_ : nullptr,
                          take_ != nullptr, PlanLimits{format_, o_.bin > 0 ? available_memory() : -1},
                          asked_.should_stop());
  if (!planned)
    return base::failure(planned.error().status == ExitStatus::interrupted ? asked_.interrupted() : planned.error());
  plan_ = std::move(*planned);
  if (!o_.ffmpeg_decoder) clip_->read_only(plan_.read_area);
  return prepare_sinks();
}

base::Status SlitImage::check_pixels() {
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
ImageJScale SlitImage::calibration() const {
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
base::Status SlitImage::prepare_sinks() {
  if (strip_size_.width == 0) strip_size_ = plan_.size;
  // An image kept in memory only is named so in messages.
  const SinkSetting setting{o_.output.empty() ? "the image" : o_.output,
                            o_.cut,        o_.slit.width,
                            threads(),     force(),       o_.compress,
                            asked_.should_stop(), [this] { return asked_.interrupted(); },
                            o_.tile_format, o_.quality,
                            o_.watch ? std::optional<ClockSource>(o_.clock) : std::nullopt,
                            imagej_ ? scale_ : ImageJScale{}};
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
  } else {
    sinks_.add(image_sink(setting, format_, imagej_, o_.pyramid));
  }
  if (o_.keep && !take_) {
    auto kept = std::make_unique<KeptImage>(setting, plan_.growing, plan_.records,
                                            sinks_.empty() ? nullptr : &sinks_.front());
    kept_ = kept.get();
    sinks_.add(std::move(kept));
  }
  if (base::Status ready = sinks_.begin(plan_.size, image_); !ready) return ready;
  if (base::Status bad = draw_ticks(); !bad) return bad;
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
    if (base::Status ready = sinks_.add(viewer_sink(setting, timeline, o_.time_origin)).begin(plan_.size, image_); !ready)
      return ready;
  }
  return start_state();
}

TimelineHead SlitImage::timeline_head() const {
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
base::Status SlitImage::read_times() {
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
  if (times_->untimed() > 0 && reads_)
    say(o_.input + ": warning: " + std::to_string(times_->untimed()) + " image(s) have no " +
        clock_name(times_->source()) + ", the first " + times_->first_untimed() +
        "; they are laid in order without a time (note no-clock)" +
        (o_.bin > 0 ? ", and left out of --bin's intervals" : ""));
  return {};
}

// The band is drawn before any strip: every strip's time is known from the clip's index.
base::Status SlitImage::draw_ticks() {
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
strips::BytePlane SlitImage::streak_plane() {
  strips::BytePlane plane = image_.plane();
  if (plan_.band > 0 && o_.cut == Cut::vertical) plane.height -= plan_.band;
  if (plan_.band > 0 && o_.cut == Cut::horizontal) plane.width -= plan_.band * plan_.size.pixel_bytes;
  return plane;
}

void SlitImage::start() {
  cutter_.emplace(o_.cut, o_.slit.width, clip_->pixel_bytes(), clip_->width(), clip_->height(),
                  plan_.place.slit, std::move(plan_.place.oriented), std::move(plan_.lines));
  if (reads_ && !o_.quiet) progress_ = &reporter_.progress();
  progress_->start(clip_->length_known() ? plan_.strips : 0);
}

base::Status SlitImage::restore() {
  if (!keeper_) return {};
  return keeper_->restore(image_, sinks_);
}

// Strip k of `picture`; null for a --bin interval without a frame. The strip is laid alone
// in the one-strip image and handed to every sink; a picture that cannot be converted
// leaves the strip before it there, to go again.
base::Status SlitImage::lay(int64_t k, const AVFrame* picture, bool repeated) {
  if (periods_) k -= periods_->first_strip();
  const bool gap = picture == nullptr;
  const strips::BytePlane image = streak_plane();
  std::optional<StripNote> note;
  if (repeated) note = StripNote::repeat;
  if (!gap && !repeated && clip_->stamp().damaged) note = StripNote::damaged;
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
  if (base::Status taken = sinks_.take(laid); !taken) return taken;
  if (keeper_) return keeper_->keep(laid, grown_ ? grown_->flushed() : 0);
  return {};
}

base::Status SlitImage::follow_period(int64_t k) {
  if (!periods_) return {};
  const FrameStamp& stamp = clip_->stamp();
  const std::optional<WallTime> clock = picture_clock(stamp.file, o_.clock);
  if (!clock && !periods_->current())
    return base::failed(stamp.file + ": " + o_.split_text +
                            ": the first image has no clock to name its period by");
  if (const std::optional<int64_t> start = periods_->opens(clock)) {
    if (periods_->current()) {
      if (base::Status bad = finish(); !bad) return bad;
      if (base::Status bad = commit(); !bad) return bad;
    }
    if (base::Status bad = open_period(*start, k); !bad) return bad;
  }
  period_stamp_ = periods_->restamp(stamp, clock);
  return {};
}

base::Status SlitImage::open_period(int64_t start, int64_t k) {
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

base::Status SlitImage::finish() {
  if (const Sink* growing = growing_sink()) {
    // With no frame there is no image to finish, whatever ended the stream.
    if (growing->strips() == 0 && asked_.finish() != 0) return base::failure(asked_.interrupted());
    if (growing->strips() == 0) return base::failed(o_.input + ": no frame came");
    if (grown_) plan_.size = grown_->size();
    // A signal may have ended the run before the strips planned were all there.
    if (plan_.records.size() > static_cast<size_t>(growing->strips()))
      plan_.records.resize(static_cast<size_t>(growing->strips()));
  }
  return sinks_.finish();
}

std::optional<Made> SlitImage::made() {
  if (kept_ == nullptr) return std::nullopt;
  Made made = kept_->take_made();
  made.request = o_;
  made.request.keep = false;
  return made;
}

base::Status SlitImage::commit() {
  if (base::Status bad = seal(); !bad) return bad;
  if (base::Status bad = land(); !bad) return bad;
  summarize();
  return {};
}

base::Status SlitImage::seal() {
  if (asked_.abandon() != 0) return base::failure(asked_.interrupted());
  return sinks_.seal();
}

base::Status SlitImage::land() {
  if (asked_.abandon() != 0) return base::failure(asked_.interrupted());
  if (base::Status bad = sinks_.land(); !bad) return bad;
  // OUTPUT in place holds every strip: the state says so too.
  if (keeper_) return keeper_->landed(grown_ ? grown_->strips() : 0);
  return {};
}

void SlitImage::summarize() {
  OddFrames odd = odd_;
  odd.damaged += clip_->damaged();
  const TempOutput* file = sinks_.front().file();
  const Sink* growing = growing_sink();
  progress_->summary(growing ? growing->strips() : plan_.strips, describe_size(plan_.size),
                     file ? file->bytes() : 0, odd);
  if (!reads_) return;
  input_->warn();
  if (growing && asked_.finish() != 0)
    say(o_.input + ": stopped by " + (asked_.finish() == SIGINT ? "SIGINT" : "SIGTERM") +
        " after " + std::to_string(growing->strips()) + " strips; the image holds them");
}

Error SlitImage::abandon(const Error& failure) {
  discard();
  progress_->clear();
  return failure;
}

}  // namespace scan
