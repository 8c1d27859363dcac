// SPDX-License-Identifier: GPL-3.0-or-later
// What velmora-scan is asked to make: the input, the slits, the frames, the outputs, the
// threads and the decoder, as the library's run() and make() take it. The command line
// fills one (options.h); a program may fill one itself.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scan/displace/delays.h"
#include "scan/slit/slit_request.h"
#include "scan/time/picture_clock.h"
#include "scan/time/timeline.h"
#include "scan/output/deep_zoom.h"
#include "scan/output/tiff_output.h"
#include "strips/strip_lines.h"

namespace scan {

// A place in the clip as given: a frame number, or seconds ("12.5s").
struct ClipPoint {
  bool given = false;
  bool seconds = false;
  int64_t frame = 0;
  double time = 0;
  std::string text;  // as typed, for messages
};

// --flush: every so many seconds, or every so many strips.
struct FlushSpec {
  bool given = false;
  bool seconds = false;
  double time = 0;
  int64_t strips = 0;
  std::string text;
};

// --since, --until: an ISO date and time, or a time of day (see resolve_bound()).
struct TimeBound {
  bool given = false;
  bool time_of_day = false;
  int64_t civil_micros = 0;  // the ISO time's, or the time of day's from midnight
  std::string text;
};

// --time-origin: the moment the viewer page's times count from: a clock time, or seconds on
// the run's clock (the timeline's seconds).
struct TimeOrigin {
  bool given = false;
  std::optional<WallTime> clock;  // an ISO time; none: `micros` from the clip's start
  int64_t micros = 0;
  std::string text;
};

// --window: a span of the time of day, microseconds from midnight; an end before the start
// runs past midnight.
struct WindowSpec {
  bool given = false;
  int64_t start = 0, end = 0;
  std::string text;
};

struct Request {
  std::string input;
  std::string output;
  strips::Cut cut = strips::Cut::vertical;
  SlitSpec slit;
  int64_t every = 1;
  ClipPoint from, to;
  int threads = 0;  // 0: the machine's cores
  bool force = false;
  bool skip_existing = false;  // an OUTPUT that exists ends the run at once, done
  TiffCompression compress = TiffCompression::deflate;
  std::string compress_text;  // "--compress lzw" when given, for messages
  bool quiet = false;
  bool no_rotate = false;  // use the pictures as stored, whatever the display matrix says
  // Slits along paths, their thickness and how its lines are made one; the time axis.
  std::vector<LineSpec> lines;
  int64_t thickness = 1;
  bool thickness_given = false;
  Reducer reduce = Reducer::copy;
  bool cut_given = false;
  bool time_down = false;  // --time-axis down: strips are rows, laid top to bottom
  bool time_given = false;
  // Every --slit and --line in the order given: a line or not, its place in `lines` or
  // `slits`.
  std::vector<SlitSpec> slits;
  std::vector<std::pair<bool, size_t>> order;
  bool ffmpeg_decoder = false;  // --decoder ffmpeg: no libjpeg-turbo shortcut for JPEG
  std::string timeline;    // --timeline: a .csv or .json of every strip's time; empty: none
  bool stats = false;      // --stats: each strip's mean, extremes and deviation in the timeline
  ClockSource clock = ClockSource::automatic;
  double bin = 0;          // --bin: seconds a strip; 0: --every instead
  std::string bin_text;
  bool pyramid = false;    // --pyramid: a TIFF's reduced levels as SubIFDs
  TileFormat tile_format = TileFormat::jpeg;  // a Deep Zoom OUTPUT's tiles
  std::string tile_format_text;               // "--tile-format png" when given
  int quality = 90;                           // JPEG's, 1 to 100
  std::string quality_text;                   // "--quality 80" when given
  bool viewer = false;     // --viewer: NAME.html beside a Deep Zoom OUTPUT
  TimeOrigin time_origin;  // --time-origin: the page's times counted from it
  bool ticks = false;      // --ticks: a band of time marks beside the image
  std::string input_format;  // --format: FFmpeg's demuxer or device for INPUT
  std::vector<std::pair<std::string, std::string>> input_options;  // --input-option KEY=VALUE
  FlushSpec flush;  // OUTPUT rewritten with the image so far, during the run
  // A time-displaced clip instead of an image: --video or OUTPUT's video ending.
  bool video = false;
  displace::DelayRequest delay;
  bool scroll = false;  // --scroll: the last frames' slit, newest at the right
  std::string codec = "libx264";
  bool codec_given = false;
  int crf = 18;
  bool crf_given = false;
  std::vector<std::pair<std::string, std::string>> encoder_options;  // --encoder-option
  // Not an option: the caller of scan::make takes the images and every strip's record in
  // memory; OUTPUT may then be empty, for no file.
  bool keep = false;
  bool watch = false;  // --watch: a folder followed as images arrive
  double idle = 0;     // --idle: seconds without a new image that end a watch; 0: none
  std::string idle_text;
  TimeBound since, until;  // images whose clock lies in [since, until)
  // --split-at: a new OUTPUT (its name a strftime pattern) from this time of day on, each
  // day; micros from midnight, in the clocks' zone or with --utc in UTC.
  std::optional<int64_t> split_at;
  std::string split_text;
  bool utc = false;
  // Every option as given (its long name and value, "" for a flag), in order: what a
  // watch's state file compares to know the command that made it.
  std::vector<std::pair<std::string, std::string>> given;
  int z = 0;        // --z: a TIFF stack's slice, 1-based; 0: not given
  int channel = 0;  // --channel: a TIFF stack's channel, 1-based; 0: not given
  bool nights = false;  // --nights: INPUT's nightly images laid as the bands of the long view
  int64_t bins = 0;     // --bin as a whole number: the long view's bins; 0: not one
  WindowSpec window;    // --window: the long view's time of day
  // --channel N,M...: several, each its own kymograph, the channels of one ImageJ TIFF;
  // empty when one or none is given.
  std::vector<int> channels;
  // The calibration an ImageJ TIFF states. --pixel-size: a pixel's width in `pixel_unit`
  // (ImageJ's spelling: "nm", "micron", ...); --frame-interval: seconds between a stack's
  // time points. 0: the input's own.
  bool imagej = false;  // --imagej: a .tif OUTPUT is an ImageJ TIFF whatever the input
  double pixel_size = 0;
  std::string pixel_unit;
  std::string pixel_size_text;
  double frame_interval = 0;
  std::string frame_interval_text;
};

// Whether `o` asks for a clip rather than an image.
bool makes_video(const Request& o);

// --since and --until as civil microseconds (a WallTime's), `now` being this machine's
// clock in the same reckoning. A time of day for --since is its last moment at or before
// now; for --until, the first after --since's when that is given, else the last at or
// before now, or with --watch the next after now.
std::optional<int64_t> resolve_since(const Request& o, int64_t now);
std::optional<int64_t> resolve_until(const Request& o, int64_t now);

// For several slits: a run's options for each, with one slit and OUTPUT's %d replaced by
// its number (1, 2, ...).
std::vector<Request> each_slit(const Request& o);

// The slit of a run's options (its first --line, if any), as the cutters take it.
SlitRequest slit_request(const Request& o);

// The options with the cut and the slit's width that its lines give (with_line_layout).
Request with_line_layout(const Request& o);

}  // namespace scan
