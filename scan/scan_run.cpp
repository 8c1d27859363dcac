// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/scan_run.h"

#include <algorithm>
#include <csignal>
#include <cmath>
#include <optional>
#include <sys/stat.h>
#include <string>
#include <thread>

#include "decode/av_error.h"
#include "scan/frame_source.h"
#include "scan/growing_image.h"
#include "scan/stream_reader.h"
#include "scan/open_input.h"
#include "scan/slit_scaler.h"
#include "scan/clip_messages.h"
#include "scan/interrupt.h"
#include "scan/oriented_strip.h"
#include "scan/output_file.h"
#include "scan/png_output.h"
#include "scan/progress.h"
#include "scan/strip_image.h"
#include "scan/tiff_output.h"

namespace scan {
namespace {

using strips::Cut;

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
  int64_t first = size / 2;
  if (o.slit.given && !o.slit.percent) first = o.slit.position;
  // A percentage of 100 or more lies outside, however large.
  if (o.slit.given && o.slit.percent)
    first = o.slit.fraction < 1 ? static_cast<int64_t>(std::floor(o.slit.fraction * size)) : size;
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

int64_t frame_of(const ClipPoint& point, const ScanFrames& frames) {
  return point.seconds ? frames.frame_at_seconds(point.time) : point.frame;
}

// The frames chosen, or why the range is empty.
Failure choose_frames(const Options& o, const ScanFrames& frames, FrameChoice& choice) {
  choice.every = o.every;
  choice.from = o.from.given ? frame_of(o.from, frames) : 0;
  choice.to = o.to.given ? std::min(frame_of(o.to, frames), frames.count) : frames.count;
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

Failure interrupted() {
  const int signal = interrupt_signal() != 0 ? interrupt_signal() : finish_signal();
  return fail(128 + signal, "interrupted; no image written");
}

// Everything a run holds while it decodes and writes.
class Run {
 public:
  Run(const Options& o, std::FILE* err, bool terminal)
      : o_(o), err_(err), terminal_(terminal), output_(o.output) {}
  int go();

 private:
  bool skipped();
  Failure prepare();
  Failure prepare_tiff(const ImageSize& size);
  Failure make_strips();
  Failure finish();
  int report(const Failure& failure);
  void repeat_strip(int64_t k);
  Failure write_failed(const std::string& error) const;
  Failure ended_early(int64_t frame) const;
  Failure prepare_growing(int shown_width, int shown_height);
  Failure flush_if_due(int64_t strips);
  Failure finish_growing();
  int threads() const { return o_.threads > 0 ? o_.threads : default_threads(); }

  const Options& o_;
  std::FILE* err_;
  bool terminal_;
  std::unique_ptr<FrameSource> clip_;
  Rect slit_;  // in the stored picture
  decode::Orientation orientation_;
  std::optional<OrientedSlit> oriented_;  // for pictures shown turned or mirrored
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
  // Inputs of unknown length, and --flush: the strips so far, written when asked and at
  // the end; the image is laid one strip at a time into image_ and copied here.
  std::unique_ptr<GrowingImage> grown_;
  double last_flush_ = 0;  // seconds into the run of the last --flush write
};

// --skip-existing: an OUTPUT that is there (a file, not a folder) is an earlier run's.
bool Run::skipped() {
  struct stat st {};
  if (!o_.skip_existing || stat(o_.output.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (!o_.quiet)
    std::fprintf(err_, "velmora-scan: %s: exists; skipped (--skip-existing)\n", o_.output.c_str());
  return true;
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
  // A long clip is read through when opened, which a signal must be able to cut short.
  // A stream is read until it ends or the first SIGINT or SIGTERM ends it; while it opens,
  // that signal still abandons the run.
  if (!o_.input_format.empty() && !known_input_format(o_.input_format))
    return fail(exit_usage, "--format " + o_.input_format +
                                ": FFmpeg knows no such input format or device");
  if (is_stream_input(o_.input, o_.input_format)) finish_on_first_signal();
  InputOpening opened = open_input(
      o_, threads(), [] { return interrupt_signal() != 0 || finish_signal() != 0; });
  if (interrupt_signal() != 0 || finish_signal() != 0) return interrupted();
  if (!opened) return fail(exit_failed, opened.error());
  clip_ = std::move(*opened);
  if (!o_.no_rotate) {
    orientation_ = clip_->display().orientation;
    if (clip_->display().odd && !o_.quiet)
      std::fprintf(err_, "velmora-scan: %s: warning: %s\n", o_.input.c_str(),
                   odd_turn(clip_->display()).c_str());
  }
  // The slit, the messages and the image speak of the picture as it is shown.
  const bool swapped = orientation_.swaps_sides();
  const int shown_width = swapped ? clip_->height() : clip_->width();
  const int shown_height = swapped ? clip_->width() : clip_->height();
  if (Failure bad = place_slit(o_, shown_width, shown_height, slit_)) return bad;
  odd_.shown_size = std::to_string(shown_width) + " x " + std::to_string(shown_height);
  if (!orientation_.upright()) {
    oriented_.emplace(orientation_, clip_->width(), clip_->height(), slit_);
    slit_ = oriented_->stored();
  }
  if (!clip_->length_known() || o_.flush.given) return prepare_growing(shown_width, shown_height);
  if (Failure bad = choose_frames(o_, clip_->frames(), choice_)) return bad;
  strips_ = strips_of(choice_);
  size_ = image_size(o_.cut, strips_, o_.slit.width, shown_width, shown_height, clip_->deep());
  if (format_ == Format::tiff) return prepare_tiff(size_);
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
    writer_ = std::make_unique<PngWriter>(output_.stream(), size_, threads());
    if (PngWritten ok = writer_->begin(); !ok)
      return fail(exit_failed, o_.output + ": " + ok.error());
  }
  return {};
}

// The image is made when the strips are all there, or when --flush writes it.
Failure Run::prepare_growing(int shown_width, int shown_height) {
  if (clip_->length_known()) {
    if (Failure bad = choose_frames(o_, clip_->frames(), choice_)) return bad;
    strips_ = strips_of(choice_);
  } else {
    if (Failure bad = choose_stream_frames(o_, clip_->frames(), choice_)) return bad;
    strips_ = INT64_MAX;
  }
  const ImageSize strip = image_size(o_.cut, 1, o_.slit.width, shown_width, shown_height,
                                     clip_->deep());
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
  TempOutput flushed(o_.output);
  if (Written ok = flushed.create(); !ok) return fail(exit_failed, ok.error());
  if (Written ok = grown_->write(flushed.stream(), format_, o_.compress, threads()); !ok)
    return write_failed(ok.error());
  // OUTPUT was checked before the run; from the first flush on it is this run's own.
  if (Written ok = flushed.commit(true); !ok) return fail(exit_failed, ok.error());
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

// Lays one strip per chosen frame into the image. A picture of another size than the first
// (clips joined end to end) is scaled whole to the first picture's size and cut at the same
// place, as a player shows it in one window. A picture that cannot be converted repeats the
// strip before it, as a damaged frame does; the first strip has none and stays black.
Failure Run::make_strips() {
  if (!clip_->choose(choice_)) {
    if (interrupt_signal() != 0) return interrupted();
    return fail(exit_failed, o_.input + ": cannot go to frame " + std::to_string(choice_.from));
  }
  SlitScaler scaler(clip_->deep());
  const strips::ExactStrip strip{o_.cut, clip_->deep() ? 6 : 3, 0, o_.slit.width};
  const strips::BytePlane image = image_.plane();
  progress_ = std::make_unique<Progress>(err_, terminal_ && !o_.quiet,
                                         clip_->length_known() ? strips_ : 0);
  for (int64_t k = 0; k < strips_; ++k) {
    // A strip handed on (to a TIFF, or a PNG written as it comes) is laid into the
    // one-strip image; a damaged frame leaves the strip before it there, to go again.
    const int64_t at = tiff_ || writer_ || grown_ ? 0 : k;
    if (interrupt_signal() != 0) return interrupted();
    if (finish_signal() != 0) break;
    int64_t frame = 0;
    const AVFrame* picture = clip_->next(frame);
    if (interrupt_signal() != 0) return interrupted();
    // A stream ends where it ends, or where a signal ended it.
    if (picture == nullptr && !clip_->length_known() && clip_->failure().empty()) break;
    if (picture == nullptr) return ended_early(choice_.from + k * choice_.every);
    const bool other_size = picture->width != clip_->width() || picture->height != clip_->height();
    const RgbView view = other_size
                             ? scaler.convert_scaled(picture, clip_->width(), clip_->height(), slit_)
                             : scaler.convert(picture, slit_);
    // Black where a strip leaves pixels unwritten, as in the PNG's image, not the last strip.
    if ((tiff_ || grown_) && view.bytes != nullptr)
      std::fill_n(image.pixels, image.stride * image.height, uint8_t{0});
    if (view.bytes != nullptr && oriented_) {
      oriented_->place(view, image, o_.cut, at);
    } else if (view.bytes != nullptr) {
      const strips::ConstBytePlane source{view.bytes, int64_t{view.width} * view.pixel_bytes,
                                          view.height, view.stride};
      strips::place_strip(source, image, strip, at);
    } else if (k > 0) {
      ++odd_.damaged;
      if (!tiff_ && !grown_) repeat_strip(k);
    } else {
      ++odd_.blank;  // the image is allocated black
    }
    if (other_size && view.bytes != nullptr) ++odd_.scaled;
    if (tiff_) {
      const strips::ConstBytePlane done{image.pixels, image.width, image.height, image.stride};
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
    progress_->update(k + 1);
  }
  return {};
}

Failure Run::ended_early(int64_t frame) const {
  if (const std::string why = clip_->failure(); !why.empty()) return fail(exit_failed, why);
  const std::string where =
      o_.input + ": the clip breaks off before frame " + std::to_string(frame);
  if (clip_->broke_off() && clip_->read_error() != 0)
    return fail(exit_failed, decode::av_error_text(where, clip_->read_error()));
  return fail(exit_failed, where);
}

void Run::repeat_strip(int64_t k) {
  if (writer_) return;  // the one-strip image still holds the strip before
  const strips::BytePlane image = image_.plane();
  const strips::ConstBytePlane source{image.pixels, image.width, image.height, image.stride};
  strips::ExactStrip strip{o_.cut, image_.size().pixel_bytes, (k - 1) * o_.slit.width,
                              o_.slit.width};
  strips::place_strip(source, image, strip, k);
}

Failure Run::finish_growing() {
  if (grown_->strips() == 0) return fail(exit_failed, o_.input + ": no frame came");
  size_ = grown_->size();
  if (Written ok = output_.create(); !ok) return fail(exit_failed, ok.error());
  if (Written ok = grown_->write(output_.stream(), format_, o_.compress, threads()); !ok)
    return write_failed(ok.error());
  if (interrupt_signal() != 0) return interrupted();
  struct stat st {};
  const int64_t file_bytes = fstat(fileno(output_.stream()), &st) == 0 ? st.st_size : 0;
  if (Written ok = output_.commit(o_.force || o_.flush.given); !ok)
    return fail(exit_failed, ok.error());
  OddFrames odd = odd_;
  odd.damaged += clip_->damaged();
  progress_->summary(grown_->strips(), describe_size(size_), file_bytes, odd);
  if (finish_signal() != 0 && !o_.quiet)
    std::fprintf(err_, "velmora-scan: %s: stopped by %s after %lld strips; the image holds them\n",
                 o_.input.c_str(), finish_signal() == SIGINT ? "SIGINT" : "SIGTERM",
                 static_cast<long long>(grown_->strips()));
  return {};
}

Failure Run::finish() {
  if (grown_) return finish_growing();
  if (tiff_) {
    if (auto written = tiff_->finish(); !written) return write_failed(written.error());
  } else if (PngWritten written =
                 writer_ ? writer_->finish() : write_png(output_.stream(), image_, threads());
             !written) {
    return write_failed(written.error());
  }
  if (interrupt_signal() != 0) return interrupted();
  // libtiff writes through the file descriptor, not the stream.
  struct stat st {};
  const int64_t file_bytes = tiff_ ? (fstat(fileno(output_.stream()), &st) == 0 ? st.st_size : 0)
                                   : std::ftell(output_.stream());
  if (Written ok = output_.commit(o_.force); !ok) return fail(exit_failed, ok.error());
  OddFrames odd = odd_;
  odd.damaged += clip_->damaged();
  progress_->summary(strips_, describe_size(size_), file_bytes, odd);
  if (const std::string first = clip_->first_damaged(); !first.empty() && !o_.quiet)
    std::fprintf(err_, "velmora-scan: %s: warning: %lld image(s) do not decode, the first %s; "
                 "their strips repeat the picture before\n",
                 o_.input.c_str(), static_cast<long long>(clip_->damaged()), first.c_str());
  return {};
}

int Run::report(const Failure& failure) {
  tiff_.reset();  // before its file is closed
  output_.discard();
  if (progress_) progress_->clear();
  std::fprintf(err_, "velmora-scan: %s\n", failure.message.c_str());
  return failure.status;
}

int Run::go() {
  if (skipped()) return exit_done;
  if (Failure bad = prepare()) return report(bad);
  if (Failure bad = make_strips()) return report(bad);
  if (Failure bad = finish()) return report(bad);
  return exit_done;
}

}  // namespace

int default_threads() {
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 64u));
}

int run_scan(const Options& options, std::FILE* err, bool terminal) {
  return Run(options, err, terminal).go();
}

}  // namespace scan
