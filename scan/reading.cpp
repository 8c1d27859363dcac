// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/reading.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "decode/av_error.h"
#include "scan/input/image_list.h"
#include "scan/input/image_sequence.h"
#include "scan/input/open_input.h"
#include "scan/input/stream_reader.h"
#include "scan/time/picture_clock.h"

namespace scan {
namespace {

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

}  // namespace

// --watch, --since and --until read an image folder or pattern's clocks.
base::Status Reading::check_watch() const {
  const char* named = o_.watch ? "--watch" : o_.since.given ? "--since" : o_.until.given ? "--until" : nullptr;
  if (named != nullptr && (is_stream_input(o_.input, o_.input_format) ||
                           sequence_kind(o_.input) == SequenceKind::none))
    return base::usage(std::string(named) + ": " + o_.input +
                           " is not an image folder or pattern");
  return {};
}

InputRequest Reading::input_request(const WatchState* resumed) const {
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
  if (const WatchState* earlier = resumed) {
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
base::Status Reading::check_stream_only() const {
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

base::Status Reading::open(const WatchState* resumed) {
  // A long clip is read through when opened, which a signal must be able to cut short.
  // A stream is read until it ends or the first SIGINT or SIGTERM ends it; while it opens,
  // that signal still abandons the run.
  if (!o_.input_format.empty())
    if (base::Status known = check_input_format(o_.input_format); !known) return known;
  if (base::Status bad = check_stream_only(); !bad) return bad;
  if (base::Status bad = check_watch(); !bad) return bad;
  InputOpening opened = open_input(input_request(resumed),
                                   o_.threads > 0 ? o_.threads : default_threads(),
                                   [this] { return asked_.abandon() != 0 || asked_.finish() != 0; });
  if (asked_.abandon() != 0 || asked_.finish() != 0) return base::failure(asked_.interrupted());
  if (!opened) return base::failure(opened.error());
  source_ = std::move(*opened);
  if (!o_.no_rotate) {
    orientation_ = source_->display().orientation;
    if (source_->display().odd) say(o_.input + ": warning: " + odd_turn(source_->display()));
  }
  return {};
}

const AVFrame* Reading::next(int64_t first, int64_t& frame, Progress& progress) {
  const AVFrame* picture = source_->next(frame);
  while (picture != nullptr && frame < first && asked_.abandon() == 0)
    picture = source_->next(frame);
  for (const std::string& line : source_->news()) {
    progress.clear();
    say(line);
  }
  return picture;
}

void Reading::count_damaged() {
  // An image sequence names its damaged images in warnings of its own.
  if (source_->stamp().file.empty() && damaged_strips_++ == 0)
    first_damaged_frame_ = source_->stamp().frame;
}

base::Status Reading::ended_early(int64_t frame) const {
  if (const auto why = source_->failure()) return base::failed(*why);
  const std::string where =
      o_.input + ": the clip breaks off before frame " + std::to_string(frame);
  if (source_->broke_off() && source_->read_error() != 0)
    return base::failed(decode::av_error_text(where, source_->read_error()));
  return base::failed(where);
}

// Strips of pictures that end early (an input that broke off inside one) or that the
// decoder found damaged hold what it made of them: never without a word.
void Reading::warn() const {
  if (damaged_strips_ > 0)
    say(o_.input + ": warning: " + std::to_string(damaged_strips_) +
        " strip(s) from damaged or cut-off pictures, the first at frame " +
        std::to_string(first_damaged_frame_));
  if (!source_->length_known()) {
    const std::string broke =
        o_.input + ": warning: the input broke off; the image holds the strips read before";
    if (source_->read_error() != 0)
      say(decode::av_error_text(broke, source_->read_error()));
    else if (source_->broke_off())
      say(broke + " (inside a picture)");
  }
  for (const std::string& warning : source_->warnings()) say(o_.input + ": warning: " + warning);
}

}  // namespace scan
