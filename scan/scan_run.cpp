// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/scan_run.h"

#include <algorithm>
#include <csignal>
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
#include "scan/slit/slit_scaler.h"
#include "scan/input/clip_messages.h"
#include "scan/interrupt.h"
#include "scan/slit/line_strips.h"
#include "scan/slit/slit_path.h"
#include "scan/slit/oriented_strip.h"
#include "scan/output/output_file.h"
#include "scan/output/png_output.h"
#include "scan/progress.h"
#include "scan/output/strip_image.h"
#include "scan/input/image_list.h"
#include "scan/time/strip_times.h"
#include "scan/time/tick_band.h"
#include "scan/output/tiff_output.h"

namespace scan {
namespace {

using strips::Cut;

// What the run hands down to the long steps below it: a SIGINT or SIGTERM asks them to stop.
bool interrupted_asked() { return interrupt_signal() != 0; }

// A run's failure: its exit status and its message (without the program's name).
struct Failure {
  int status = exit_done;
  std::string message;
  explicit operator bool() const { return status != exit_done; }
};

Failure fail(int status, std::string message) { return {status, std::move(message)}; }

// The slit as a rectangle of the frame, or why it does not fit.
Failure place_slit(const Options& o, int frame_width, int frame_height, Rect& area) {
  const bool vertical = o.cut == Cut::vertical;
  const int64_t size = vertical ? frame_width : frame_height;
  const char* lines = vertical ? "columns" : "rows";
  const int64_t first =
      o.slit.given ? slit_line(o.slit.percent, o.slit.position, o.slit.fraction, size) : size / 2;
  const int64_t width = o.slit.width;
  const std::string what = o.slit.given ? o.slit.text : "--slit";
  if (first < 0 || first >= size)
    return fail(exit_usage, what + ": outside the frame (" + std::to_string(size) + " " + lines +
                                ", 0 to " + std::to_string(size - 1) + ")");
  if (width > size - first)
    return fail(exit_usage, what + ": the slit reaches past the frame (" + std::to_string(size) +
                                " " + lines + ")");
  area = vertical ? Rect{static_cast<int>(first), 0, static_cast<int>(width), frame_height}
                  : Rect{0, static_cast<int>(first), frame_width, static_cast<int>(width)};
  return {};
}

// A time is read off the run's clock when it has one (an image sequence's), else off the
// clip's index.
int64_t frame_of(const ClipPoint& point, const ScanFrames& frames, const FrameTimes* times) {
  if (!point.seconds) return point.frame;
  return times ? times->frame_at_seconds(point.time) : frames.frame_at_seconds(point.time);
}

// The frames chosen, or why the range is empty.
Failure choose_frames(const Options& o, const ScanFrames& frames, const FrameTimes* times,
                      FrameChoice& choice) {
  choice.every = o.every;
  choice.from = o.from.given ? frame_of(o.from, frames, times) : 0;
  choice.to = o.to.given ? std::min(frame_of(o.to, frames, times), frames.count) : frames.count;
  const std::string length =
      std::to_string(frames.count) + " frame" + (frames.count == 1 ? "" : "s");
  if (choice.from >= frames.count)
    return fail(exit_usage, o.from.text + ": past the end of the clip (" + length + ")");
  // Without --from the range starts at the clip's start, which only --to can close.
  if (choice.from >= choice.to && !o.from.given)
    return fail(exit_usage, o.to.text + ": at the start of the clip (frame " +
                                std::to_string(choice.to) + "); no frame lies before it");
  if (choice.from >= choice.to)
    return fail(exit_usage, o.from.text + ": at or past " + o.to.text + " (frame " +
                                std::to_string(choice.from) + " to frame " +
                                std::to_string(choice.to) + ")");
  return {};
}

// A stream's frames are its pictures; a time picks a frame by the stream's frame rate.
Failure choose_stream_frames(const Options& o, const ScanFrames& frames, FrameChoice& choice) {
  const auto frame = [&](const ClipPoint& point, int64_t& out) {
    if (!point.seconds) {
      out = point.frame;
      return true;
    }
    if (frames.fps <= 0) return false;
    out = static_cast<int64_t>(std::ceil(point.time * frames.fps - 1e-6));
    return true;
  };
  choice.every = o.every;
  choice.from = 0;
  choice.to = INT64_MAX;
  for (const ClipPoint* point : {&o.from, &o.to}) {
    if (point->given && !frame(*point, point == &o.from ? choice.from : choice.to))
      return fail(exit_usage, point->text + ": the stream's frame rate is not known; give a frame");
  }
  if (choice.from >= choice.to)
    return fail(exit_usage, o.from.given ? o.from.text + ": at or past " + o.to.text
                                         : o.to.text + ": no frame lies before it");
  return {};
}

// Written so that no sum can pass 64 bits, however large --every is.
int64_t strips_of(const FrameChoice& choice) {
  return (choice.to - choice.from - 1) / choice.every + 1;
}

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

// Strips without a time (images without the run's clock) take one on the axis between
// their neighbours', in proportion to their places, so that the ticks run on across them.
void fill_untimed(std::vector<double>& values) {
  const auto n = static_cast<int64_t>(values.size());
  int64_t before = -1;
  for (int64_t k = 0; k <= n; ++k) {
    if (k < n && std::isnan(values[k])) continue;
    for (int64_t j = before + 1; j < k; ++j) {
      if (before < 0 && k == n) break;
      if (before < 0) values[j] = values[k];
      else if (k == n) values[j] = values[before];
      else values[j] = values[before] + (values[k] - values[before]) *
                                            static_cast<double>(j - before) /
                                            static_cast<double>(k - before);
    }
    before = k;
  }
}

Failure interrupted() {
  const int signal = interrupt_signal() != 0 ? interrupt_signal() : finish_signal();
  return fail(128 + signal, "interrupted; no image written");
}

// Everything a run holds while it decodes and writes.
class Run {
 public:
  // `shared`: an input another run has opened, whose pictures this run is handed (lay()).
  Run(const Options& o, std::FILE* err, bool terminal, FrameSource* shared = nullptr)
      : o_(o), err_(err), terminal_(terminal), clip_(shared), output_(o.output) {}
  int go();

  bool skipped();
  Failure prepare();
  // Decodes the chosen frames and lays each strip, into `followers`' images too.
  Failure make_strips(const std::vector<std::unique_ptr<Run>>& followers = {});
  // Writes the image under its temporary name; commit() renames it: seal() (the timeline
  // written, both files synced), land() (renamed), summarize().
  Failure finish();
  Failure commit();
  Failure seal();
  Failure land();
  void summarize();
  // Removes what land() put in place, when it replaced nothing: another image of the same
  // pass failed to land.
  void take_back();
  int report(const Failure& failure);
  void discard();
  FrameSource* clip() const { return clip_; }

 private:
  Failure prepare_tiff(const ImageSize& size);
  Failure check_stream_only() const;
  Failure place_lines();
  void start_strips(bool shown);
  Failure lay(int64_t k, const AVFrame* picture, bool repeated);
  Failure read_times();
  Failure plan_strips();
  Failure check_bins(int64_t count) const;
  Failure draw_ticks();
  strips::BytePlane streak_plane();
  const AVFrame* next_picture(int64_t k, int64_t& frame);
  Failure write_timeline();
  Failure commit_both(bool replace_output);
  void record_arrival(int64_t k);
  void repeat_strip(int64_t k);
  void warn_damaged() const;
  Failure write_failed(const std::string& error) const;
  Failure ended_early(int64_t frame) const;
  Failure prepare_growing(int shown_width, int shown_height);
  Failure flush_if_due(int64_t strips);
  Failure finish_growing();
  bool replaces_output() const;
  int threads() const { return o_.threads > 0 ? o_.threads : default_threads(); }

  const Options& o_;
  std::FILE* err_;
  bool terminal_;
  FrameSource* clip_;  // owned_, or an input another run reads
  std::unique_ptr<FrameSource> owned_;
  std::optional<SlitScaler> scaler_;
  Rect slit_;  // in the stored picture
  decode::Orientation orientation_;
  std::optional<OrientedSlit> oriented_;  // for pictures shown turned or mirrored
  std::unique_ptr<LineStrips> lines_;     // strips along lines instead of a crop
  FrameChoice choice_;
  int64_t strips_ = 0;
  ImageSize size_;  // of the whole image, whatever is held of it
  Format format_ = Format::png;
  // The whole image for a PNG of a vertical cut; one strip for a TIFF, handed on to tiff_,
  // and for a PNG of a horizontal cut, whose rows are complete and go to writer_ as each
  // strip is laid.
  StripImage image_;
  std::unique_ptr<PngWriter> writer_;
  TempOutput output_;
  std::unique_ptr<TiffBands> tiff_;  // after output_: it writes to output_'s file
  std::unique_ptr<Progress> progress_;
  OddFrames odd_;  // the decoder's damaged frames are added at the end
  int64_t damaged_strips_ = 0, first_damaged_frame_ = -1;  // pictures cut short or damaged
  // The frame of every strip (-1: a --bin gap), when --bin, --timeline or --ticks need it,
  // and the times they are read off.
  std::optional<FrameTimes> times_;
  StripFrames strip_frames_;
  std::vector<StripRecord> records_;
  std::optional<TempOutput> timeline_;
  int64_t shown_slit_ = 0;   // the slit's first column (row) in the picture as shown
  int shown_width_ = 0, shown_height_ = 0;  // the picture as shown
  int64_t band_ = 0;         // rows (a vertical cut) or columns of the --ticks band
  // The band of an image written as it comes (a TIFF, a horizontal PNG), laid beside each
  // strip.
  StripImage band_image_;
  void lay_band(int64_t k);
  // Inputs of unknown length, and --flush: the strips so far, written when asked and at
  // the end; the image is laid one strip at a time into image_ and copied here.
  std::unique_ptr<GrowingImage> grown_;
  double last_flush_ = 0;  // seconds into the run of the last --flush write
  std::string partial_;    // --flush's file for an input of known length, once written
  bool sealed_ = false, landed_ = false;
};

// --flush's file for an input of known length: OUTPUT's name with ".partial" before its
// ending, so that OUTPUT itself appears only when the run is done (and --skip-existing never
// takes a flushed image for a finished one), while the image so far can still be looked at.
std::string partial_name(const std::string& output) {
  const size_t dot = output.rfind('.');  // OUTPUT ends in .png, .tif or .tiff
  return output.substr(0, dot) + ".partial" + output.substr(dot);
}

// --skip-existing: an OUTPUT that is there (a file, not a folder) is an earlier run's.
bool Run::skipped() {
  struct stat st {};
  if (!o_.skip_existing || stat(o_.output.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (!o_.quiet)
    std::fprintf(err_, "velmora-scan: %s: exists; skipped (--skip-existing)\n", o_.output.c_str());
  return true;
}

// What only a stream takes: --input-option (a clip file and an image sequence have no
// demuxer options to give), and standard input that is not a terminal (nobody types a
// stream; waiting for one would look like a hang).
Failure Run::check_stream_only() const {
  const bool stream = is_stream_input(o_.input, o_.input_format);
  if (!o_.input_options.empty() && !stream) {
    const auto& [key, value] = o_.input_options.front();
    const char* what = sequence_kind(o_.input) != SequenceKind::none ? "an image sequence"
                                                                       : "a clip file";
    return fail(exit_usage, "--input-option " + key + "=" + value + ": " + o_.input + " is " +
                                what + ", which takes no input option; with --format NAME it is "
                                       "read as a stream, whose demuxer takes them");
  }
  if (o_.input == "-" && isatty(STDIN_FILENO))
    return fail(exit_usage, "-: standard input is a terminal; give the stream through a pipe "
                            "(... | velmora-scan - OUTPUT) or a file");
  return {};
}

Failure Run::prepare() {
  const std::optional<Format> format = output_format(o_.output);
  if (!format)
    return fail(exit_usage, o_.output + ": the output name must end in .png, .tif or .tiff");
  format_ = *format;
  if (!o_.compress_text.empty() && format_ != Format::tiff)
    return fail(exit_usage, o_.compress_text + ": only a TIFF OUTPUT (.tif, .tiff) is compressed so");
  if (format_ == Format::tiff && !tiff_can_write(o_.compress))
    return fail(exit_usage, o_.compress_text + ": this libtiff cannot write it");
  if (Written ok = check_output(o_.output, o_.force); !ok) return fail(exit_failed, ok.error());
  if (!o_.timeline.empty())
    if (Written ok = check_output(o_.timeline, o_.force); !ok) return fail(exit_failed, ok.error());
  // A long clip is read through when opened, which a signal must be able to cut short.
  // A stream is read until it ends or the first SIGINT or SIGTERM ends it; while it opens,
  // that signal still abandons the run.
  if (clip_ == nullptr) {
    if (!o_.input_format.empty())
      if (InputFormatCheck known = check_input_format(o_.input_format); !known)
        return fail(exit_usage, known.error());
    if (Failure bad = check_stream_only()) return bad;
    if (is_stream_input(o_.input, o_.input_format)) finish_on_first_signal();
    InputOpening opened = open_input(
        InputRequest{o_.input, o_.input_format, o_.input_options, !o_.no_rotate}, threads(), [] { return interrupt_signal() != 0 || finish_signal() != 0; });
    if (interrupt_signal() != 0 || finish_signal() != 0) return interrupted();
    if (!opened) return fail(exit_failed, opened.error());
    owned_ = std::move(*opened);
    clip_ = owned_.get();
  }
  if (!o_.no_rotate) {
    orientation_ = clip_->display().orientation;
    if (clip_->display().odd && !o_.quiet && owned_)
      std::fprintf(err_, "velmora-scan: %s: warning: %s\n", o_.input.c_str(),
                   odd_turn(clip_->display()).c_str());
  }
  // The slit, the messages and the image speak of the picture as it is shown.
  const bool swapped = orientation_.swaps_sides();
  const int shown_width = swapped ? clip_->height() : clip_->width();
  const int shown_height = swapped ? clip_->width() : clip_->height();
  shown_width_ = shown_width;
  shown_height_ = shown_height;
  if (!runs_on_lines(slit_request(o_))) {
    if (Failure bad = place_slit(o_, shown_width, shown_height, slit_)) return bad;
    shown_slit_ = o_.cut == Cut::vertical ? slit_.x : slit_.y;
  }
  odd_.shown_size = std::to_string(shown_width) + " x " + std::to_string(shown_height);
  if (!orientation_.upright() && !runs_on_lines(slit_request(o_))) {
    oriented_.emplace(orientation_, clip_->width(), clip_->height(), slit_);
    slit_ = oriented_->stored();
  }
  if (!clip_->length_known() || o_.flush.given) return prepare_growing(shown_width, shown_height);
  if (Failure bad = read_times()) return bad;
  if (Failure bad = choose_frames(o_, clip_->frames(), times_ ? &*times_ : nullptr, choice_))
    return bad;
  strips_ = strips_of(choice_);
  if (Failure bad = plan_strips()) return bad;
  size_ = image_size(o_.cut, strips_, o_.slit.width, shown_width, shown_height, clip_->deep());
  if (Failure bad = place_lines()) return bad;
  // A line's samples, not the frame's side, run along the strip.
  if (lines_) (o_.cut == Cut::vertical ? size_.height : size_.width) = lines_->samples();
  if (o_.ticks) {
    band_ = band_layout(o_.cut == Cut::vertical, o_.cut == Cut::vertical ? size_.height : size_.width)
                .thickness;
    (o_.cut == Cut::vertical ? size_.height : size_.width) += band_;
  }
  if (format_ == Format::tiff) {
    if (Failure bad = prepare_tiff(size_)) return bad;
    return draw_ticks();
  }
  const bool streamed = o_.cut == Cut::horizontal;
  const ImageSize held =
      streamed ? ImageSize{size_.width, o_.slit.width, size_.pixel_bytes} : size_;
  if (auto fits = check_image_size(size_, streamed ? -1 : available_memory()); !fits)
    return fail(exit_failed, o_.output + ": " + fits.error());
  if (Written ok = output_.create(); !ok) return fail(exit_failed, ok.error());
  if (!image_.allocate(held))
    return fail(exit_failed, o_.output + ": not enough memory for an image of " +
                                 human_bytes(static_cast<double>(held.bytes())) +
                                 "; use --every or a shorter range");
  if (streamed) {
    writer_ = std::make_unique<PngWriter>(output_.stream(), size_, threads(), png_chunk_bytes, interrupted_asked);
    if (PngWritten ok = writer_->begin(); !ok)
      return fail(exit_failed, o_.output + ": " + ok.error());
  }
  return draw_ticks();
}

// The lines of a slit along paths, or of a slit reduced or moving, for strips_ strips; and
// what the input is to decode of each picture.
Failure Run::place_lines() {
  if (runs_on_lines(slit_request(o_))) {
    const bool moving = o_.slit.moving || (!o_.lines.empty() && !o_.lines.front().to.empty());
    if (moving && !clip_->length_known())
      return fail(exit_usage, (o_.lines.empty() ? o_.slit.text : o_.lines.front().text) +
                                  ": a moving slit needs an input of known length");
    auto made = LineStrips::make(slit_request(o_), clip_->width(), clip_->height(), orientation_,
                                 clip_->length_known() ? strips_ : 1, clip_->deep());
    if (!made) return fail(exit_usage, made.error());
    lines_ = std::move(*made);
  }
  if (!o_.ffmpeg_decoder) clip_->read_only(lines_ ? lines_->stored_bounds() : slit_);
  return {};
}

// The times of the input's frames, when --bin, --timeline, --ticks or a time in seconds
// on an image sequence needs them. A sequence's clock is chosen once for all its images.
Failure Run::read_times() {
  const SequenceKind kind = sequence_kind(o_.input);
  const bool seconds = (o_.from.given && o_.from.seconds) || (o_.to.given && o_.to.seconds);
  if (o_.bin == 0 && o_.timeline.empty() && !o_.ticks && !(seconds && kind != SequenceKind::none))
    return {};
  if (kind == SequenceKind::none) {
    times_ = FrameTimes::of_clip(clip_->frames(),
                                 clip_clock(o_.input, o_.clock, clip_->creation_time()));
    return {};
  }
  // The list is the one the source reads.
  auto listed = list_images(o_.input, kind);
  if (!listed) return fail(exit_failed, o_.input + ": " + listed.error());
  auto times = FrameTimes::of_images(clip_->frames(), std::move(*listed), o_.clock);
  if (!times) return fail(exit_usage, o_.input + ": " + times.error());
  times_ = std::move(*times);
  if (times_->untimed() > 0 && !o_.quiet && owned_)
    std::fprintf(err_,
                 "velmora-scan: %s: warning: %lld image(s) have no %s, the first %s; they are "
                 "laid in order without a time (note no-clock)%s\n",
                 o_.input.c_str(), static_cast<long long>(times_->untimed()),
                 clock_name(times_->source()).c_str(), times_->first_untimed().c_str(),
                 o_.bin > 0 ? ", and left out of --bin's intervals" : "");
  return {};
}

// Which frame each strip shows and when; only --bin changes which frames are read.
Failure Run::plan_strips() {
  if (o_.bin == 0 && o_.timeline.empty() && !o_.ticks) return {};
  const base::ShouldStop stop = interrupted_asked;
  if (o_.bin > 0) {
    auto seconds = range_seconds(*times_, choice_.from, choice_.to, stop);
    if (!seconds) return interrupted();
    const double count = bin_count(*seconds, o_.bin);
    if (count == 0) return fail(exit_usage, o_.bin_text + ": no image in the range has a time");
    if (!(count <= static_cast<double>(max_bins)))
      return fail(exit_usage, o_.bin_text + ": it would make " +
                                  std::to_string(static_cast<long long>(count)) +
                                  " strips, more than " + std::to_string(max_bins));
    if (Failure bad = check_bins(static_cast<int64_t>(count))) return bad;
    auto binned = binned_frames(*times_, *seconds, choice_.from, o_.bin);
    if (!binned) return fail(exit_usage, o_.bin_text + ": " + binned.error());
    strip_frames_ = std::move(*binned);
    // Every frame up to the last interval's is read; the first of each interval is laid.
    choice_.every = 1;
    choice_.to = *std::max_element(strip_frames_.frames.begin(), strip_frames_.frames.end()) + 1;
    for (int64_t f : strip_frames_.frames)
      if (f >= 0) choice_.only.push_back(f);
    strips_ = static_cast<int64_t>(strip_frames_.frames.size());
  } else {
    for (int64_t k = 0; k < strips_; ++k)
      strip_frames_.frames.push_back(choice_.from + k * choice_.every);
  }
  if (o_.timeline.empty() && !o_.ticks) return {};
  auto records = strip_records(clip_->frames(), *times_, strip_frames_, o_.slit.width, stop);
  if (!records) return interrupted();
  records_ = std::move(*records);
  return {};
}

// Before anything is allocated for --bin's strips: the image they make, and what is kept
// of each (its frame, its record, its line of the timeline), must fit.
Failure Run::check_bins(int64_t count) const {
  const ImageSize size =
      image_size(o_.cut, count, o_.slit.width, shown_width_, shown_height_, clip_->deep());
  const int64_t side_limit = format_ == Format::tiff ? tiff_max_side : png_max_side;
  const std::string what = o_.output + ": " + o_.bin_text + " makes " + std::to_string(count) +
                           " strips: the image would be " + std::to_string(size.width) + " x " +
                           std::to_string(size.height) + " pixels";
  const std::string advice = "; use a longer --bin or a shorter range";
  if (size.width > side_limit || size.height > side_limit)
    return fail(exit_failed, what + ", more than " + (format_ == Format::tiff ? "TIFF" : "PNG") +
                                 " allows (" + std::to_string(side_limit) + " a side)" + advice);
  // A PNG of columns is held whole, as is any image with --flush; the rest goes out as
  // it comes.
  const bool held = o_.flush.given || (format_ == Format::png && o_.cut == Cut::vertical);
  double per_strip = sizeof(int64_t);
  if (!o_.timeline.empty() || o_.ticks) per_strip += sizeof(StripRecord) + sizeof(double);
  if (!o_.timeline.empty()) per_strip += 160;  // a line of JSON, about
  const double bytes = (held ? static_cast<double>(size.bytes()) : 0) +
                       per_strip * static_cast<double>(count);
  const int64_t available = available_memory();
  if (available >= 0 && bytes > static_cast<double>(available))
    return fail(exit_failed, what + " and need " + human_bytes(bytes) + ", more than the " +
                                 human_bytes(static_cast<double>(available)) +
                                 " of memory at hand" + advice);
  return {};
}

// The band is drawn before any strip: every strip's time is known from the clip's index.
Failure Run::draw_ticks() {
  if (band_ == 0) return {};
  const bool vertical = o_.cut == Cut::vertical;
  const int pixel_bytes = size_.pixel_bytes;
  const BandLayout layout =
      band_layout(vertical, vertical ? size_.height - band_ : size_.width - band_);
  TickAxis axis;
  axis.strip_pixels = static_cast<double>(o_.slit.width);
  axis.wall_clock = std::any_of(records_.begin(), records_.end(),
                                [](const StripRecord& r) { return r.clock.has_value(); });
  for (const StripRecord& r : records_) {
    const std::optional<double> value =
        axis.wall_clock ? (r.clock ? std::optional<double>(static_cast<double>(r.clock->civil_micros) / 1e6)
                                   : std::nullopt)
                        : r.seconds;
    axis.values.push_back(value.value_or(std::nan("")));
  }
  fill_untimed(axis.values);
  strips::BytePlane band = image_.plane();
  if (vertical && !tiff_) {
    band.pixels += (size_.height - band_) * band.stride;
    band.height = band_;
  } else {
    const ImageSize whole = vertical ? ImageSize{size_.width, band_, pixel_bytes}
                                     : ImageSize{band_, size_.height, pixel_bytes};
    if (!band_image_.allocate(whole))
      return fail(exit_failed, o_.output + ": not enough memory for the band of time marks (" +
                                   human_bytes(static_cast<double>(whole.bytes())) + ")");
    band = band_image_.plane();
  }
  auto font = TickFont::open(layout.font_pixels);
  if (!font) return fail(exit_failed, "--ticks: " + font.error());
  const std::vector<Tick> ticks = make_ticks(
      axis, [&](const std::string& label) { return font->extent(label, vertical); },
      layout.label_gap);
  draw_tick_band(band, pixel_bytes, layout, *font, ticks);
  if (ticks.empty() && !o_.quiet)
    std::fprintf(err_, "velmora-scan: %s: warning: --ticks: no whole second of the strips' "
                 "times lies on the image; the band has no marks\n", o_.output.c_str());
  return {};
}

// The image without the band of time marks: where strips go.
strips::BytePlane Run::streak_plane() {
  strips::BytePlane plane = image_.plane();
  if (band_ > 0 && o_.cut == Cut::vertical) plane.height -= band_;
  if (band_ > 0 && o_.cut == Cut::horizontal) plane.width -= band_ * size_.pixel_bytes;
  return plane;
}

// The picture of strip k: with --bin the frames between intervals' first ones are passed by.
const AVFrame* Run::next_picture(int64_t k, int64_t& frame) {
  const AVFrame* picture = clip_->next(frame);
  if (o_.bin > 0)
    while (picture != nullptr && frame < strip_frames_.frames[k] && interrupt_signal() == 0)
      picture = clip_->next(frame);
  return picture;
}

// The image is made when the strips are all there, or when --flush writes it.
Failure Run::prepare_growing(int shown_width, int shown_height) {
  if (o_.ticks)
    return fail(exit_usage, std::string("--ticks: not with ") +
                                (o_.flush.given ? "--flush" : "an input of unknown length"));
  if (clip_->length_known()) {
    if (Failure bad = read_times()) return bad;
    if (Failure bad = choose_frames(o_, clip_->frames(), times_ ? &*times_ : nullptr, choice_))
      return bad;
    strips_ = strips_of(choice_);
    if (Failure bad = plan_strips()) return bad;
  } else {
    if (o_.bin > 0) return fail(exit_usage, o_.bin_text + ": not with an input of unknown length");
    if (Failure bad = choose_stream_frames(o_, clip_->frames(), choice_)) return bad;
    strips_ = INT64_MAX;
  }
  if (Failure bad = place_lines()) return bad;
  ImageSize strip = image_size(o_.cut, 1, o_.slit.width, shown_width, shown_height,
                               clip_->deep());
  if (lines_) (o_.cut == Cut::vertical ? strip.height : strip.width) = lines_->samples();
  if (!image_.allocate(strip))
    return fail(exit_failed, o_.output + ": not enough memory for a strip of " +
                                 human_bytes(static_cast<double>(strip.bytes())));
  const bool vertical = o_.cut == Cut::vertical;
  grown_ = std::make_unique<GrowingImage>(o_.cut, o_.slit.width,
                                          vertical ? strip.height : strip.width,
                                          strip.pixel_bytes);
  return {};
}

// --flush: OUTPUT replaced by the image so far, under a temporary name and renamed.
Failure Run::flush_if_due(int64_t strips) {
  if (!o_.flush.given) return {};
  const double now = progress_->seconds();
  if (o_.flush.seconds ? now - last_flush_ < o_.flush.time : strips % o_.flush.strips != 0)
    return {};
  last_flush_ = now;
  // A stream's image so far is OUTPUT (the run ends when the stream does); an input of known
  // length keeps OUTPUT for the whole image.
  const std::string target = clip_->length_known() ? partial_name(o_.output) : o_.output;
  TempOutput flushed(target);
  if (Written ok = flushed.create(); !ok) return fail(exit_failed, ok.error());
  if (Written ok = grown_->write(flushed.stream(), format_, o_.compress, threads(), interrupted_asked); !ok)
    return write_failed(ok.error());
  // OUTPUT was checked before the run; from the first flush on it is this run's own, as the
  // partial file is.
  if (Written ok = flushed.commit(true); !ok) return fail(exit_failed, ok.error());
  if (clip_->length_known()) partial_ = target;
  return {};
}

// A TIFF takes its tiles as the strips come in: only one strip is held here.
Failure Run::prepare_tiff(const ImageSize& size) {
  if (size.width > tiff_max_side || size.height > tiff_max_side)
    return fail(exit_failed, o_.output + ": the image would be " + std::to_string(size.width) +
                                 " x " + std::to_string(size.height) +
                                 " pixels, more than TIFF allows (" +
                                 std::to_string(tiff_max_side) +
                                 " a side); use --every or a shorter range");
  if (Written ok = output_.create(); !ok) return fail(exit_failed, ok.error());
  auto opened = TiffBands::open(fileno(output_.stream()), size, o_.cut, o_.compress,
                                needs_bigtiff(size, o_.compress));
  if (!opened) return write_failed(opened.error());
  tiff_ = std::move(*opened);
  ImageSize strip = size;
  (o_.cut == Cut::vertical ? strip.width : strip.height) = o_.slit.width;
  if (!image_.allocate(strip))
    return fail(exit_failed, o_.output + ": not enough memory for a strip of " +
                                 human_bytes(static_cast<double>(strip.bytes())));
  return {};
}

Failure Run::write_failed(const std::string& error) const {
  if (interrupt_signal() != 0) return interrupted();
  return fail(exit_failed, o_.output + ": " + error);
}

// Lays one strip per chosen frame into the image, and hands each picture to `followers`,
// the runs of the other slits. A picture of another size than the first (clips joined end
// to end) is scaled whole to the first picture's size and cut at the same place, as a player
// shows it in one window. A picture that cannot be converted repeats the strip before it,
// as a damaged frame does; the first strip has none and stays black.
Failure Run::make_strips(const std::vector<std::unique_ptr<Run>>& followers) {
  if (!clip_->choose(choice_)) {
    if (interrupt_signal() != 0) return interrupted();
    return fail(exit_failed, o_.input + ": cannot go to frame " + std::to_string(choice_.from));
  }
  start_strips(true);
  for (const auto& run : followers) run->start_strips(false);
  for (int64_t k = 0; k < strips_; ++k) {
    if (interrupt_signal() != 0) return interrupted();
    if (finish_signal() != 0) break;
    int64_t frame = 0;
    const bool gap = o_.bin > 0 && strip_frames_.frames[k] < 0;
    const AVFrame* picture = gap ? nullptr : next_picture(k, frame);
    if (interrupt_signal() != 0) return interrupted();
    // A stream ends where it ends, or where a signal ended it.
    if (picture == nullptr && !gap && !clip_->length_known() && clip_->failure().empty()) break;
    if (picture == nullptr && !gap)
      return ended_early(o_.bin > 0 ? strip_frames_.frames[k] : choice_.from + k * choice_.every);
    // A picture that did not decode shows the last good one again.
    const bool repeated = picture != nullptr && clip_->stamp().repeat;
    if (Failure bad = lay(k, picture, repeated)) return bad;
    for (const auto& run : followers)
      if (Failure bad = run->lay(k, picture, repeated)) return bad;
    progress_->update(k + 1);
  }
  return {};
}

void Run::start_strips(bool shown) {
  scaler_.emplace(clip_->deep());
  progress_ = std::make_unique<Progress>(err_, terminal_ && !o_.quiet && shown,
                                         clip_->length_known() ? strips_ : 0);
}

// Strip k of `picture`; null for a --bin interval without a frame.
Failure Run::lay(int64_t k, const AVFrame* picture, bool repeated) {
  const bool gap = picture == nullptr;
  const strips::ExactStrip strip{o_.cut, clip_->deep() ? 6 : 3, 0, o_.slit.width};
  const strips::BytePlane image = streak_plane();
  // A strip handed on (to a TIFF, or a PNG written as it comes) is laid into the
  // one-strip image; a damaged frame leaves the strip before it there, to go again.
  const int64_t at = tiff_ || writer_ || grown_ ? 0 : k;
  if (!clip_->length_known() && !o_.timeline.empty()) record_arrival(k);
  if (repeated && static_cast<size_t>(k) < records_.size()) records_[k].note = StripNote::repeat;
  if (!gap && !repeated && clip_->stamp().damaged) {
    if (static_cast<size_t>(k) < records_.size()) records_[k].note = StripNote::damaged;
    // An image sequence names its damaged images in warnings of its own.
    if (clip_->stamp().file.empty() && damaged_strips_++ == 0)
      first_damaged_frame_ = clip_->stamp().frame;
  }
  const bool other_size =
      !gap && (picture->width != clip_->width() || picture->height != clip_->height());
  const RgbView view =
      gap          ? RgbView{}
      : lines_     ? lines_->strip(picture, k)
      : other_size ? scaler_->convert_scaled(picture, clip_->width(), clip_->height(), slit_)
                   : scaler_->convert(picture, slit_);
  // A --bin interval without a frame: a black strip (the whole image starts black).
  if (gap && (tiff_ || writer_ || grown_))
    for (int64_t y = 0; y < image.height; ++y)
      std::fill_n(image.pixels + y * image.stride, image.width, uint8_t{0});
  // Black where a strip leaves pixels unwritten, as in the PNG's image, not the last strip.
  if ((tiff_ || grown_) && view.bytes != nullptr)
    std::fill_n(image.pixels, image.stride * image.height, uint8_t{0});
  if (view.bytes != nullptr && oriented_) {
    oriented_->place(view, image, o_.cut, at);
  } else if (view.bytes != nullptr) {
    const strips::ConstBytePlane source{view.bytes, int64_t{view.width} * view.pixel_bytes,
                                        view.height, view.stride};
    strips::place_strip(source, image, strip, at);
  } else if (gap) {
    // Black already: laid so above, or allocated so.
  } else if (k > 0) {
    if (static_cast<size_t>(k) < records_.size()) records_[k].note = StripNote::repeat;
    ++odd_.damaged;
    if (!tiff_ && !grown_) repeat_strip(k);
  } else {
    ++odd_.blank;  // the image is allocated black
  }
  if (other_size && view.bytes != nullptr) ++odd_.scaled;
  if (band_ > 0 && (tiff_ || writer_)) lay_band(k);
  if (tiff_) {
    const strips::ConstBytePlane done{image_.plane().pixels, image_.plane().width,
                                      image_.plane().height, image_.stride()};
    if (auto added = tiff_->add(done); !added) return write_failed(added.error());
  } else if (writer_) {
    if (PngWritten ok = writer_->add_rows(image_.row(0), o_.slit.width, image_.stride()); !ok)
      return write_failed(ok.error());
  } else if (grown_) {
    if (!grown_->add(image_))
      return fail(exit_failed, o_.output + ": not enough memory for " + std::to_string(k + 1) +
                                   " strips; use --every, --to or a TIFF OUTPUT");
    if (Failure bad = flush_if_due(k + 1)) return bad;
  }
  return {};
}

// Strip k's share of the band, beside it in the one-strip image handed on.
void Run::lay_band(int64_t k) {
  const int64_t lines = o_.slit.width;
  const int pixel_bytes = size_.pixel_bytes;
  uint8_t* const pixels = image_.plane().pixels;
  if (o_.cut == Cut::vertical) {
    const int64_t streak_rows = size_.height - band_;
    for (int64_t y = 0; y < band_; ++y)
      std::copy_n(band_image_.row(y) + k * lines * pixel_bytes, lines * pixel_bytes,
                  pixels + (streak_rows + y) * image_.stride());
  } else {
    const int64_t streak_bytes = (size_.width - band_) * pixel_bytes;
    for (int64_t y = 0; y < lines; ++y)
      std::copy_n(band_image_.row(k * lines + y), band_image_.stride(),
                  pixels + y * image_.stride() + streak_bytes);
  }
}

Failure Run::ended_early(int64_t frame) const {
  if (const std::string why = clip_->failure(); !why.empty()) return fail(exit_failed, why);
  const std::string where =
      o_.input + ": the clip breaks off before frame " + std::to_string(frame);
  if (clip_->broke_off() && clip_->read_error() != 0)
    return fail(exit_failed, decode::av_error_text(where, clip_->read_error()));
  return fail(exit_failed, where);
}

// Strips of pictures that end early (an input that broke off inside one) or that the
// decoder found damaged hold what it made of them: never without a word.
void Run::warn_damaged() const {
  if (damaged_strips_ > 0 && !o_.quiet && owned_)
    std::fprintf(err_, "velmora-scan: %s: warning: %lld strip(s) from damaged or cut-off "
                 "pictures, the first at frame %lld\n",
                 o_.input.c_str(), static_cast<long long>(damaged_strips_),
                 static_cast<long long>(first_damaged_frame_));
  if (clip_->length_known() || o_.quiet || !owned_) return;
  const std::string broke = "velmora-scan: " + o_.input +
                            ": warning: the input broke off; the image holds the strips read "
                            "before";
  if (clip_->read_error() != 0)
    std::fprintf(err_, "%s\n", decode::av_error_text(broke, clip_->read_error()).c_str());
  else if (clip_->broke_off())
    std::fprintf(err_, "%s (inside a picture)\n", broke.c_str());
}

void Run::repeat_strip(int64_t k) {
  if (writer_) return;  // the one-strip image still holds the strip before
  const strips::BytePlane image = streak_plane();
  const strips::ConstBytePlane source{image.pixels, image.width, image.height, image.stride};
  strips::ExactStrip strip{o_.cut, image_.size().pixel_bytes, (k - 1) * o_.slit.width,
                              o_.slit.width};
  strips::place_strip(source, image, strip, k);
}

Failure Run::finish_growing() {
  // With no frame there is no image to finish, whatever ended the stream.
  if (grown_->strips() == 0 && finish_signal() != 0) return interrupted();
  if (grown_->strips() == 0) return fail(exit_failed, o_.input + ": no frame came");
  size_ = grown_->size();
  // A signal may have ended the run before the strips planned were all there.
  if (records_.size() > static_cast<size_t>(grown_->strips()))
    records_.resize(static_cast<size_t>(grown_->strips()));
  if (Written ok = output_.create(); !ok) return fail(exit_failed, ok.error());
  if (Written ok = grown_->write(output_.stream(), format_, o_.compress, threads(), interrupted_asked); !ok)
    return write_failed(ok.error());
  return {};
}

// A stream's --flush has put its image so far in OUTPUT's place already.
bool Run::replaces_output() const {
  return o_.force || (o_.flush.given && !clip_->length_known());
}

Failure Run::finish() {
  if (grown_) return finish_growing();
  if (tiff_) {
    if (auto written = tiff_->finish(); !written) return write_failed(written.error());
  } else if (PngWritten written =
                 writer_ ? writer_->finish() : write_png(output_.stream(), image_, threads(), png_chunk_bytes, interrupted_asked);
             !written) {
    return write_failed(written.error());
  }
  return {};
}

Failure Run::commit() {
  if (Failure bad = seal()) return bad;
  if (Failure bad = land()) return bad;
  summarize();
  return {};
}

Failure Run::seal() {
  if (sealed_) return {};
  if (interrupt_signal() != 0) return interrupted();
  if (Failure bad = write_timeline()) return bad;
  if (timeline_)
    if (Written ok = timeline_->seal(); !ok) return fail(exit_failed, ok.error());
  if (Written ok = output_.seal(); !ok) return write_failed(ok.error());
  sealed_ = true;
  return {};
}

Failure Run::land() {
  if (interrupt_signal() != 0) return interrupted();
  if (Failure bad = commit_both(replaces_output())) return bad;
  landed_ = true;
  if (!partial_.empty()) std::remove(partial_.c_str());
  partial_.clear();
  return {};
}

void Run::take_back() {
  if (!landed_ || replaces_output()) return;
  std::remove(o_.output.c_str());
  if (timeline_) std::remove(o_.timeline.c_str());
  landed_ = false;
}

void Run::summarize() {
  OddFrames odd = odd_;
  odd.damaged += clip_->damaged();
  progress_->summary(grown_ ? grown_->strips() : strips_, describe_size(size_), output_.bytes(),
                     odd);
  warn_damaged();
  if (!o_.quiet && owned_)
    for (const std::string& warning : clip_->warnings())
      std::fprintf(err_, "velmora-scan: %s: warning: %s\n", o_.input.c_str(), warning.c_str());
  if (grown_ && finish_signal() != 0 && !o_.quiet && owned_)
    std::fprintf(err_, "velmora-scan: %s: stopped by %s after %lld strips; the image holds them\n",
                 o_.input.c_str(), finish_signal() == SIGINT ? "SIGINT" : "SIGTERM",
                 static_cast<long long>(grown_->strips()));
}

// A stream's strips are known only as they come: each at its picture's time, its clock the
// moment it arrived.
void Run::record_arrival(int64_t k) {
  const FrameStamp& stamp = clip_->stamp();
  StripRecord r;
  r.strip = k;
  r.position = k * o_.slit.width;
  r.frame = stamp.frame;
  r.seconds = stamp.seconds;
  r.clock = now_clock();
  records_.push_back(r);
}

// Written under a temporary name before OUTPUT is renamed, and renamed right after it, so
// that a failure leaves neither file.
Failure Run::write_timeline() {
  if (o_.timeline.empty()) return {};
  timeline_.emplace(o_.timeline);
  if (Written ok = timeline_->create(); !ok) return fail(exit_failed, ok.error());
  TimelineHead head;
  head.input = o_.input;
  head.width = size_.width - (o_.cut == Cut::horizontal ? band_ : 0);
  head.height = size_.height - (o_.cut == Cut::vertical ? band_ : 0);
  head.cut = o_.cut == Cut::vertical ? "vertical" : "horizontal";
  head.slit_position = shown_slit_;
  head.slit_width = o_.slit.width;
  if (lines_) head.line = o_.lines.empty() ? o_.slit.text : o_.lines.front().text;
  head.band = band_;
  const std::string text = timeline_format(o_.timeline) == TimelineFormat::json
                               ? timeline_json(head, records_)
                               : timeline_csv(records_);
  if (std::fwrite(text.data(), 1, text.size(), timeline_->stream()) != text.size())
    return fail(exit_failed, o_.timeline + ": cannot be written");
  return {};
}

// The timeline lands first and is taken back when OUTPUT cannot land: both or neither.
Failure Run::commit_both(bool replace_output) {
  if (timeline_)
    if (Written ok = timeline_->commit(o_.force); !ok) return fail(exit_failed, ok.error());
  if (Written ok = output_.commit(replace_output); !ok) {
    if (timeline_) std::remove(o_.timeline.c_str());
    return fail(exit_failed, ok.error());
  }
  return {};
}

void Run::discard() {
  tiff_.reset();  // before its file is closed
  output_.discard();
  if (timeline_) timeline_->discard();
  if (!partial_.empty()) std::remove(partial_.c_str());
  partial_.clear();
}

int Run::report(const Failure& failure) {
  discard();
  if (progress_) progress_->clear();
  std::fprintf(err_, "velmora-scan: %s\n", failure.message.c_str());
  return failure.status;
}

int Run::go() {
  if (skipped()) return exit_done;
  if (Failure bad = prepare()) return report(bad);
  if (Failure bad = make_strips()) return report(bad);
  if (Failure bad = finish()) return report(bad);
  if (Failure bad = commit()) return report(bad);
  return exit_done;
}

// Several slits: the first run opens and decodes the input and hands each picture to the
// others. Every image is written under its temporary name first and synced, and renamed only
// when all are complete; a failure or an interrupt leaves none, and an image that cannot be
// put in place (one that appeared meanwhile, without --force) takes back those already put.
// With --skip-existing the images already there are skipped and the others made.
int run_several(const std::vector<Options>& all, std::FILE* err, bool terminal) {
  std::vector<Options> each;
  for (const Options& o : all)
    if (!Run(o, err, terminal).skipped()) each.push_back(o);
  if (each.empty()) return exit_done;
  std::vector<std::unique_ptr<Run>> runs;
  auto failed = [&](Run& run, const Failure& failure) {
    for (auto& other : runs)
      if (other.get() != &run) other->discard();
    return run.report(failure);
  };
  for (const Options& o : each) {
    runs.push_back(std::make_unique<Run>(o, err, terminal, runs.empty() ? nullptr : runs[0]->clip()));
    if (Failure bad = runs.back()->prepare()) return failed(*runs.back(), bad);
  }
  Run& first = *runs.front();
  // The first run lays its followers' strips; they are handed back below.
  std::vector<std::unique_ptr<Run>> others(std::make_move_iterator(runs.begin() + 1),
                                           std::make_move_iterator(runs.end()));
  runs.resize(1);
  const Failure made = first.make_strips(others);
  for (auto& run : others) runs.push_back(std::move(run));
  if (made) return failed(first, made);
  for (auto& run : runs)
    if (Failure bad = run->finish()) return failed(*run, bad);
  for (auto& run : runs)
    if (Failure bad = run->seal()) return failed(*run, bad);
  for (size_t i = 0; i < runs.size(); ++i) {
    if (Failure bad = runs[i]->land()) {
      for (size_t j = 0; j < i; ++j) runs[j]->take_back();
      return failed(*runs[i], bad);
    }
  }
  for (auto& run : runs) run->summarize();
  return exit_done;
}

}  // namespace

int default_threads() {
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 64u));
}

int run_scan(const Options& options, std::FILE* err, bool terminal) {
  if (options.order.size() > 1) {
    std::vector<Options> each = each_slit(options);
    for (Options& o : each) o = with_line_layout(o);
    return run_several(each, err, terminal);
  }
  const Options laid = with_line_layout(options);
  return Run(laid, err, terminal).go();
}

}  // namespace scan
