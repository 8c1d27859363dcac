// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/plan.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/text.h"
#include "scan/output/tile_codec.h"
#include "scan/time/tick_band.h"
#include "scan/time/time_axis.h"

namespace scan {
namespace {

using strips::Cut;

Error stopped() { return Error{ExitStatus::interrupted, "interrupted; no image written"}; }

// A time is read off the run's clock when it has one (an image sequence's), else off the
// clip's index.
int64_t frame_of(const ClipPoint& point, const ScanFrames& frames, const FrameTimes* times) {
  if (!point.seconds) return point.frame;
  return times ? times->frame_at_seconds(point.time) : frames.frame_at_seconds(point.time);
}

// The frames chosen, or why the range is empty.
base::Result<FrameChoice, Error> choose_frames(const Request& o, const ScanFrames& frames,
                                               const FrameTimes* times) {
  FrameChoice choice;
  choice.every = o.every;
  choice.from = o.from.given ? frame_of(o.from, frames, times) : 0;
  choice.to = o.to.given ? std::min(frame_of(o.to, frames, times), frames.count) : frames.count;
  const std::string length =
      std::to_string(frames.count) + " frame" + (frames.count == 1 ? "" : "s");
  if (choice.from >= frames.count)
    return base::usage(o.from.text + ": past the end of the clip (" + length + ")");
  // Without --from the range starts at the clip's start, which only --to can close.
  if (choice.from >= choice.to && !o.from.given)
    return base::usage(o.to.text + ": at the start of the clip (frame " +
                       std::to_string(choice.to) + "); no frame lies before it");
  if (choice.from >= choice.to)
    return base::usage(o.from.text + ": at or past " + o.to.text + " (frame " +
                       std::to_string(choice.from) + " to frame " +
                       std::to_string(choice.to) + ")");
  return choice;
}

// A stream's frames are its pictures; a time picks a frame by the stream's frame rate.
base::Result<FrameChoice, Error> choose_stream_frames(const Request& o, const ScanFrames& frames) {
  const auto frame = [&](const ClipPoint& point, int64_t& out) {
    if (!point.seconds) {
      out = point.frame;
      return true;
    }
    if (frames.fps <= 0) return false;
    out = static_cast<int64_t>(std::ceil(point.time * frames.fps - 1e-6));
    return true;
  };
  FrameChoice choice;
  choice.every = o.every;
  choice.from = 0;
  choice.to = INT64_MAX;
  for (const ClipPoint* point : {&o.from, &o.to}) {
    if (point->given && !frame(*point, point == &o.from ? choice.from : choice.to))
      return base::usage(point->text + ": the stream's frame rate is not known; give a frame");
  }
  if (choice.from >= choice.to)
    return base::usage(o.from.given ? o.from.text + ": at or past " + o.to.text
                                    : o.to.text + ": no frame lies before it");
  return choice;
}

// Written so that no sum can pass 64 bits, however large --every is.
int64_t strips_of(const FrameChoice& choice) {
  return (choice.to - choice.from - 1) / choice.every + 1;
}

// Before anything is allocated for --bin's strips: the image they make, and what is kept
// of each (its frame, its record, its line of the timeline), must fit.
base::Result<void, Error> check_bins(const Request& o, const SourceHeader& source,
                                     const SlitPlace& place, int64_t count,
                                     const PlanLimits& limits) {
  const ImageSize size = image_size(o.cut, count, o.slit.width, place.shown_width,
                                    place.shown_height, source.pixel_bytes);
  // Deep Zoom's tiles go out as TIFF's do, within the same sides; JPEG and WebP are held
  // whole as a PNG of columns is.
  const Format format = limits.format;
  const bool tiff = format == Format::tiff || format == Format::dzi;
  const int64_t side_limit = tiff                     ? tiff_max_side
                             : format == Format::jpeg ? jpeg_max_side
                             : format == Format::webp ? webp_max_side
                                                      : png_max_side;
  const char* format_name = format == Format::tiff   ? "TIFF"
                            : format == Format::dzi  ? "this Deep Zoom output"
                            : format == Format::jpeg ? "JPEG"
                            : format == Format::webp ? "WebP"
                                                     : "PNG";
  const std::string what = o.output + ": " + o.bin_text + " makes " + std::to_string(count) +
                           " strips: the image would be " + std::to_string(size.width) + " x " +
                           std::to_string(size.height) + " pixels";
  const std::string advice = "; use a longer --bin or a shorter range";
  const bool small_only = format == Format::jpeg || format == Format::webp;
  if (size.width > side_limit || size.height > side_limit)
    return base::failed(what + ", more than " + format_name + " allows (" +
                        std::to_string(side_limit) + " a side)" + advice +
                        (small_only ? ", or a .dzi OUTPUT, or --pyramid with a .tif "
                                      "OUTPUT, for an image of any length"
                                    : ""));
  // A PNG of columns is held whole, as is any image with --flush; the rest goes out as
  // it comes.
  const bool held = o.flush.given || (!tiff && (o.cut == Cut::vertical || format != Format::png));
  double per_strip = sizeof(int64_t);
  if (!o.timeline.empty() || o.ticks || o.keep) per_strip += sizeof(StripRecord) + sizeof(double);
  if (!o.timeline.empty()) per_strip += 160;  // a line of JSON, about
  const double bytes = (held ? static_cast<double>(size.bytes()) : 0) +
                       per_strip * static_cast<double>(count);
  if (limits.memory >= 0 && bytes > static_cast<double>(limits.memory))
    return base::failed(what + " and need " + base::human_bytes(bytes) + ", more than the " +
                        base::human_bytes(static_cast<double>(limits.memory)) +
                        " of memory at hand" + advice);
  return {};
}

// Which frame each strip shows and when; only --bin changes which frames are read.
base::Result<void, Error> plan_strips(const Request& o, const SourceHeader& source,
                                      const FrameTimes* times, const PlanLimits& limits,
                                      const base::ShouldStop& stop, Plan& plan) {
  if (o.bin == 0 && o.timeline.empty() && !o.ticks && !o.keep) return {};
  if (o.bin > 0) {
    auto seconds = range_seconds(*times, plan.choice.from, plan.choice.to, stop);
    if (!seconds) return base::failure(stopped());
    const double count = bin_count(*seconds, o.bin);
    if (count == 0) return base::usage(o.bin_text + ": no image in the range has a time");
    if (!(count <= static_cast<double>(max_bins)))
      return base::usage(o.bin_text + ": it would make " +
                         std::to_string(static_cast<long long>(count)) +
                         " strips, more than " + std::to_string(max_bins));
    if (auto fits = check_bins(o, source, plan.place, static_cast<int64_t>(count), limits); !fits)
      return fits;
    auto binned = binned_frames(*times, *seconds, plan.choice.from, o.bin);
    if (!binned) return base::failure(binned.error().within(o.bin_text + ": "));
    plan.strip_frames = std::move(*binned);
    // Every frame up to the last interval's is read; the first of each interval is laid.
    plan.choice.every = 1;
    plan.choice.to = *std::max_element(plan.strip_frames.frames.begin(),
                                       plan.strip_frames.frames.end()) + 1;
    for (int64_t f : plan.strip_frames.frames)
      if (f >= 0) plan.choice.only.push_back(f);
    plan.strips = static_cast<int64_t>(plan.strip_frames.frames.size());
  } else {
    for (int64_t k = 0; k < plan.strips; ++k)
      plan.strip_frames.frames.push_back(plan.choice.from + k * plan.choice.every);
  }
  if (o.timeline.empty() && !o.ticks && !o.keep) return {};
  auto records = strip_records(*source.frames, *times, plan.strip_frames, o.slit.width, stop);
  if (!records) return base::failure(stopped());
  plan.records = std::move(*records);
  return {};
}

// The lines of a slit along paths, or of a slit reduced or moving; and what the input is to
// decode of each picture.
base::Result<void, Error> place_lines(const Request& o, const SourceHeader& source, Plan& plan) {
  const SlitRequest slit = slit_request(o);
  if (runs_on_lines(slit)) {
    const bool moving = o.slit.moving || (!o.lines.empty() && !o.lines.front().to.empty());
    if (moving && !source.length_known)
      return base::usage((o.lines.empty() ? o.slit.text : o.lines.front().text) +
                         ": a moving slit needs an input of known length");
    auto made = LineStrips::make(slit, source.width, source.height, source.orientation,
                                 source.length_known ? plan.strips : 1, source.pixel_bytes);
    if (!made) return base::failure(made.error());
    plan.lines = std::move(*made);
  }
  plan.read_area = plan.lines ? plan.lines->stored_bounds() : plan.place.slit;
  return {};
}

// An image made a strip at a time (an input of unknown length, --flush) or not made at all.
bool grows(const Request& o, const SourceHeader& source, bool handed_out) {
  return !source.length_known || o.flush.given || handed_out;
}

// The band of time marks is drawn before the strips, from every strip's time: an image that
// grows has none.
base::Result<SlitPlace, Error> refuse_band(const Request& o, const SourceHeader& source,
                                           bool handed_out, SlitPlace place) {
  if (grows(o, source, handed_out) && o.ticks && !handed_out)
    return base::usage(std::string("--ticks: not with ") +
                       (o.flush.given ? "--flush" : "an input of unknown length"));
  // Only PNG and TIFF are written from a grown image.
  const std::optional<Format> format = output_format(o.output);
  if (grows(o, source, handed_out) && !handed_out && format && *format != Format::png &&
      *format != Format::tiff)
    return base::usage(o.output + ": " +
                       (*format == Format::dzi    ? "Deep Zoom"
                        : *format == Format::jpeg ? "a JPEG"
                                                  : "a WebP") +
                       " is not made with " +
                       (o.flush.given ? "--flush" : "an input of unknown length"));
  // A pyramid's levels go out band by band with the image: a grown image has none.
  if (grows(o, source, handed_out) && o.pyramid && !handed_out)
    return base::usage(std::string("--pyramid: not with ") +
                       (o.flush.given ? "--flush" : "an input of unknown length"));
  return place;
}

}  // namespace

base::Result<SlitPlace, Error> place_slit(const Request& o, const SourceHeader& source,
                                          bool handed_out) {
  SlitPlace place;
  // The slit, the messages and the image speak of the picture as it is shown.
  const bool swapped = source.orientation.swaps_sides();
  place.shown_width = swapped ? source.height : source.width;
  place.shown_height = swapped ? source.width : source.height;
  if (runs_on_lines(slit_request(o))) return refuse_band(o, source, handed_out, std::move(place));
  const bool vertical = o.cut == Cut::vertical;
  const int64_t size = vertical ? place.shown_width : place.shown_height;
  const char* lines = vertical ? "columns" : "rows";
  const int64_t first =
      o.slit.given ? slit_line(o.slit.percent, o.slit.position, o.slit.fraction, size) : size / 2;
  const int64_t width = o.slit.width;
  const std::string what = o.slit.given ? o.slit.text : "--slit";
  if (auto fits = slit_fits(what, first, width, size, lines); !fits)
    return base::failure(fits.error());
  place.slit = vertical ? Rect{static_cast<int>(first), 0, static_cast<int>(width),
                               place.shown_height}
                        : Rect{0, static_cast<int>(first), place.shown_width,
                               static_cast<int>(width)};
  place.shown_slit = vertical ? place.slit.x : place.slit.y;
  if (!source.orientation.upright()) {
    place.oriented.emplace(source.orientation, source.width, source.height, place.slit);
    place.slit = place.oriented->stored();
  }
  return refuse_band(o, source, handed_out, std::move(place));
}

base::Result<Plan, Error> plan_run(const Request& o, const SourceHeader& source, SlitPlace place,
                                   const FrameTimes* times, bool handed_out,
                                   const PlanLimits& limits, const base::ShouldStop& stop) {
  Plan plan;
  plan.place = std::move(place);
  plan.growing = grows(o, source, handed_out);
  if (source.length_known) {
    auto choice = choose_frames(o, *source.frames, times);
    if (!choice) return base::failure(choice.error());
    plan.choice = std::move(*choice);
    plan.strips = strips_of(plan.choice);
    if (auto planned = plan_strips(o, source, times, limits, stop, plan); !planned)
      return base::failure(planned.error());
  } else {
    if (o.bin > 0) return base::usage(o.bin_text + ": not with an input of unknown length");
    auto choice = choose_stream_frames(o, *source.frames);
    if (!choice) return base::failure(choice.error());
    plan.choice = std::move(*choice);
    plan.strips = INT64_MAX;
  }
  const int shown_width = plan.place.shown_width, shown_height = plan.place.shown_height;
  const bool vertical = o.cut == Cut::vertical;
  if (plan.growing) {
    if (auto placed = place_lines(o, source, plan); !placed) return base::failure(placed.error());
    plan.size = image_size(o.cut, 1, o.slit.width, shown_width, shown_height, source.pixel_bytes);
    if (plan.lines) (vertical ? plan.size.height : plan.size.width) = plan.lines->samples();
    return plan;
  }
  plan.size = image_size(o.cut, plan.strips, o.slit.width, shown_width, shown_height, source.pixel_bytes);
  if (auto placed = place_lines(o, source, plan); !placed) return base::failure(placed.error());
  // A line's samples, not the frame's side, run along the strip.
  if (plan.lines) (vertical ? plan.size.height : plan.size.width) = plan.lines->samples();
  if (o.ticks) {
    plan.band = band_layout(vertical, vertical ? plan.size.height : plan.size.width).thickness;
    (vertical ? plan.size.height : plan.size.width) += plan.band;
  }
  return plan;
}

}  // namespace scan
