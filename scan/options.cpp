// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/options.h"

#include "base/result.h"
#include "scan/time/time_axis.h"
#include "scan/time/timeline.h"

#include <getopt.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace scan {
namespace {

// Nothing, or why an option's value is wrong.
using Parsing = base::Result<void, std::string>;

bool whole_number(std::string_view text, int64_t& value) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// A plain decimal such as 12 or 12.5, nothing else (no sign, exponent or blanks).
bool decimal(std::string_view text, double& value) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos ||
      text.find('.') != text.rfind('.') || text == ".")
    return false;
  value = std::strtod(std::string(text).c_str(), nullptr);
  return std::isfinite(value);
}

std::string option_text(std::string_view name, std::string_view value) {
  return "--" + std::string(name) + " " + std::string(value);
}

Parsing parse_point(std::string_view name, std::string_view value, ClipPoint& point) {
  point = ClipPoint{true, false, 0, 0, option_text(name, value)};
  if (value.ends_with('s') || value.ends_with('m') || value.ends_with('h')) {
    point.seconds = true;
    if (std::optional<double> time = parse_time_point(std::string(value))) {
      point.time = *time;
      return {};
    }
  } else if (whole_number(value, point.frame) && point.frame >= 0) {
    return {};
  }
  return base::failure(point.text + ": not a frame number or a time such as 12.5s, 1.5m or 1h");
}

Parsing parse_position(std::string_view position, const std::string& text, SlitSpec& slit) {
  if (position.ends_with('%')) {
    double percent = 0;
    slit.percent = true;
    if (!decimal(position.substr(0, position.size() - 1), percent))
      return base::failure(text + ": the position is not a percentage such as 50%");
    slit.fraction = percent / 100;
    return {};
  }
  if (!whole_number(position, slit.position))
    return base::failure(text + ": the position is not a column or row number or a percentage");
  return {};
}

Parsing parse_slit(std::string_view value, SlitSpec& slit) {
  slit = SlitSpec{};
  slit.given = true;
  slit.text = option_text("slit", value);
  std::string_view position = value, width;
  if (auto colon = value.find(':'); colon != std::string_view::npos) {
    position = value.substr(0, colon);
    width = value.substr(colon + 1);
    if (!whole_number(width, slit.width) || slit.width < 0)
      return base::failure(slit.text + ": the width is not a whole number of pixels");
    if (slit.width == 0) return base::failure(slit.text + ": a slit of width 0 holds no pixel");
  }
  if (auto dots = position.find(".."); dots != std::string_view::npos) {
    slit.moving = true;
    SlitSpec end;
    if (position.size() == dots + 2)
      return base::failure(slit.text + ": the slit's last position is missing after ..");
    if (Parsing p = parse_position(position.substr(dots + 2), slit.text, end); !p) return p;
    slit.end_percent = end.percent;
    slit.end_position = end.position;
    slit.end_fraction = end.fraction;
    position = position.substr(0, dots);
  }
  return parse_position(position, slit.text, slit);
}

Parsing parse_every(std::string_view value, int64_t& every) {
  if (!whole_number(value, every))
    return base::failure(option_text("every", value) + ": not a whole number");
  if (every <= 0)
    return base::failure(option_text("every", value) + ": must be 1 or more");
  return {};
}

Parsing parse_threads(std::string_view value, int& threads) {
  int64_t count = 0;
  if (!whole_number(value, count))
    return base::failure(option_text("threads", value) + ": not a whole number");
  if (count < 1 || count > 64)
    return base::failure(option_text("threads", value) + ": must be 1 to 64");
  threads = static_cast<int>(count);
  return {};
}

Parsing parse_cut(std::string_view value, strips::Cut& cut) {
  if (value == "vertical")
    cut = strips::Cut::vertical;
  else if (value == "horizontal")
    cut = strips::Cut::horizontal;
  else
    return base::failure(option_text("cut", value) + ": must be vertical or horizontal");
  return {};
}

Parsing parse_compress(std::string_view value, Options& o) {
  o.compress_text = option_text("compress", value);
  if (value == "deflate")
    o.compress = TiffCompression::deflate;
  else if (value == "zstd")
    o.compress = TiffCompression::zstd;
  else if (value == "lzw")
    o.compress = TiffCompression::lzw;
  else if (value == "none")
    o.compress = TiffCompression::none;
  else
    return base::failure(o.compress_text + ": must be deflate, zstd, lzw or none");
  return {};
}

Parsing parse_timeline(std::string_view value, Options& o) {
  o.timeline = std::string(value);
  if (!timeline_format(o.timeline))
    return base::failure(option_text("timeline", value) + ": the name must end in .csv or .json");
  return {};
}

Parsing parse_clock(std::string_view value, Options& o) {
  const std::optional<ClockSource> source = parse_clock_source(std::string(value));
  if (!source) return base::failure(option_text("clock", value) + ": must be exif, name, mtime or none");
  o.clock = *source;
  return {};
}

Parsing parse_bin(std::string_view value, Options& o) {
  o.bin_text = option_text("bin", value);
  const std::optional<double> seconds = parse_duration(std::string(value));
  if (!seconds) return base::failure(o.bin_text + ": not a time above 0 such as 60s, 0.5s, 2m or 1h");
  o.bin = *seconds;
  return {};
}

Parsing parse_input_option(std::string_view value, Options& o) {
  const size_t equals = value.find('=');
  if (equals == std::string_view::npos || equals == 0)
    return base::failure(option_text("input-option", value) + ": not KEY=VALUE");
  o.input_options.emplace_back(value.substr(0, equals), value.substr(equals + 1));
  return {};
}

// A time ("30s", "0.5s") or a number of strips ("100").
Parsing parse_flush(std::string_view value, FlushSpec& flush) {
  flush = FlushSpec{true, false, 0, 0, option_text("flush", value)};
  if (value.ends_with('s')) {
    flush.seconds = true;
    if (decimal(value.substr(0, value.size() - 1), flush.time) && flush.time > 0) return {};
  } else if (whole_number(value, flush.strips) && flush.strips > 0) {
    return {};
  }
  return base::failure(flush.text + ": not a number of strips (1 or more) or a time such as 30s");
}

enum Key {
  key_cut = 256,
  key_slit,
  key_every,
  key_from,
  key_to,
  key_threads,
  key_version,
  key_no_rotate,
  key_compress,
  key_skip_existing,
  key_line,
  key_thickness,
  key_reduce,
  key_time_axis,
  key_decoder,
  key_timeline,
  key_clock,
  key_bin,
  key_ticks,
  key_format,
  key_input_option,
  key_flush,
};

const option long_options[] = {
    {"cut", required_argument, nullptr, key_cut},
    {"slit", required_argument, nullptr, key_slit},
    {"every", required_argument, nullptr, key_every},
    {"from", required_argument, nullptr, key_from},
    {"to", required_argument, nullptr, key_to},
    {"threads", required_argument, nullptr, key_threads},
    {"force", no_argument, nullptr, 'f'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, key_version},
    {"no-rotate", no_argument, nullptr, key_no_rotate},
    {"compress", required_argument, nullptr, key_compress},
    {"skip-existing", no_argument, nullptr, key_skip_existing},
    {"line", required_argument, nullptr, key_line},
    {"thickness", required_argument, nullptr, key_thickness},
    {"reduce", required_argument, nullptr, key_reduce},
    {"time-axis", required_argument, nullptr, key_time_axis},
    {"decoder", required_argument, nullptr, key_decoder},
    {"timeline", required_argument, nullptr, key_timeline},
    {"clock", required_argument, nullptr, key_clock},
    {"bin", required_argument, nullptr, key_bin},
    {"ticks", no_argument, nullptr, key_ticks},
    {"format", required_argument, nullptr, key_format},
    {"input-option", required_argument, nullptr, key_input_option},
    {"flush", required_argument, nullptr, key_flush},
    {nullptr, 0, nullptr, 0},
};

// The option getopt_long stopped at, as typed (up to an "=value").
std::string offending(const std::vector<char*>& argv, int short_option) {
  if (short_option > 0 && short_option < 256) return std::string("-") + char(short_option);
  std::string typed = optind > 0 && argv[optind - 1] != nullptr ? argv[optind - 1] : "?";
  return typed.substr(0, typed.find('='));
}

Parsed usage_error(std::string error) {
  Parsed parsed;
  parsed.action = Parsed::Action::usage_error;
  parsed.error = std::move(error);
  return parsed;
}

Parsing apply(int key, std::string_view value, Options& o) {
  switch (key) {
    case key_cut:
      o.cut_given = true;
      return parse_cut(value, o.cut);
    case key_line: {
      auto line = parse_line(value);
      if (!line) return base::failure(line.error());
      o.order.push_back({true, o.lines.size()});
      o.lines.push_back(std::move(*line));
      return {};
    }
    case key_thickness:
      o.thickness_given = true;
      if (!whole_number(value, o.thickness) || o.thickness < 1)
        return base::failure(option_text("thickness", value) + ": must be a whole number, 1 or more");
      return {};
    case key_reduce:
      if (auto r = reducer_named(value)) {
        o.reduce = *r;
        return {};
      }
      return base::failure(option_text("reduce", value) + ": must be copy, mean, max, min or median");
    case key_time_axis:
      o.time_given = true;
      if (value != "right" && value != "down")
        return base::failure(option_text("time-axis", value) + ": must be right or down");
      o.time_down = value == "down";
      return {};
    case key_slit: {
      Parsing parsed = parse_slit(value, o.slit);
      o.order.push_back({false, o.slits.size()});
      o.slits.push_back(o.slit);
      return parsed;
    }
    case key_every:
      return parse_every(value, o.every);
    case key_from:
      return parse_point("from", value, o.from);
    case key_to:
      return parse_point("to", value, o.to);
    case key_threads:
      return parse_threads(value, o.threads);
    case 'f':
      o.force = true;
      return {};
    case 'q':
      o.quiet = true;
      return {};
    case key_no_rotate:
      o.no_rotate = true;
      return {};
    case key_compress:
      return parse_compress(value, o);
    case key_skip_existing:
      o.skip_existing = true;
      return {};
    case key_decoder:
      if (value != "auto" && value != "ffmpeg")
        return base::failure("--decoder " + std::string(value) + ": must be auto or ffmpeg");
      o.ffmpeg_decoder = value == "ffmpeg";
      return {};
    case key_timeline:
      return parse_timeline(value, o);
    case key_clock:
      return parse_clock(value, o);
    case key_bin:
      return parse_bin(value, o);
    case key_ticks:
      o.ticks = true;
      return {};
    case key_format:
      o.input_format = value;
      return {};
    case key_input_option:
      return parse_input_option(value, o);
    case key_flush:
      return parse_flush(value, o.flush);
  }
  return base::failure(std::string("unknown option"));
}

// Options that do not go together with --line, or with each other; empty when none.
std::string line_conflicts(Options& o) {
  const bool lines = !o.lines.empty();
  if (lines && o.cut_given) return "--line and --cut: a line runs any way; use --time-axis";
  if (o.thickness_given && !lines) return "--thickness: only with --line (--slit has its WIDTH)";
  if (o.time_given && o.cut_given) return "--time-axis and --cut: give one or the other";
  if (o.time_down) o.cut = strips::Cut::horizontal;  // a slit across the time axis
  return {};
}

}  // namespace

Parsed parse_options(const std::vector<std::string>& args) {
  std::vector<std::string> copies = args;
  std::vector<char*> argv;
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  Parsed parsed;
  optind = 0;  // glibc: start afresh, so the parser can run more than once
  opterr = 0;  // our own messages
  for (;;) {
    int index = 0;
    int key =
        getopt_long(static_cast<int>(argv.size()) - 1, argv.data(), ":fqh", long_options, &index);
    if (key == -1) break;
    if (key == 'h')
      parsed.action = Parsed::Action::help;
    else if (key == key_version)
      parsed.action = Parsed::Action::version;
    else if (key == '?')
      return usage_error(offending(argv, optopt) + ": unknown option (see --help)");
    else if (key == ':')
      return usage_error(offending(argv, optopt) + ": needs a value");
    else if (Parsing applied = apply(key, optarg != nullptr ? optarg : "", parsed.options);
             !applied) {
      return usage_error(applied.error());
    }
  }
  if (parsed.action != Parsed::Action::run) return parsed;
  if (parsed.options.force && parsed.options.skip_existing)
    return usage_error("--force and --skip-existing: give one or the other");
  if (std::string bad = line_conflicts(parsed.options); !bad.empty()) return usage_error(bad);
  if (parsed.options.bin > 0 && parsed.options.every != 1)
    return usage_error(parsed.options.bin_text + " and --every: give one or the other");
  // getopt_long has moved the operands behind the options.
  std::vector<std::string> operands(argv.begin() + optind, argv.end() - 1);
  if (operands.size() != 2)
    return usage_error("expected INPUT and OUTPUT, got " + std::to_string(operands.size()) +
                       " file name" + (operands.size() == 1 ? "" : "s") + " (see --help)");
  parsed.options.input = operands[0];
  parsed.options.output = operands[1];
  const bool numbered = parsed.options.output.find("%d") != std::string::npos;
  if (parsed.options.order.size() > 1 && !numbered)
    return usage_error(parsed.options.output + ": several slits need %d in OUTPUT, for 1, 2, ...");
  if (parsed.options.order.size() <= 1 && numbered)
    return usage_error(parsed.options.output + ": %d in OUTPUT is for several slits; there is one");
  // Each slit's image has its own timeline.
  const std::string& timeline = parsed.options.timeline;
  if (parsed.options.order.size() > 1 && !timeline.empty() && timeline.find("%d") == std::string::npos)
    return usage_error("--timeline " + timeline + ": several slits need %d in its name too");
  return parsed;
}

std::vector<Options> each_slit(const Options& o) {
  std::vector<Options> each;
  for (size_t n = 0; n < o.order.size(); ++n) {
    Options one = o;
    one.lines.clear();
    one.slit = SlitSpec{};
    one.slits.clear();
    one.order.clear();
    const auto [line, index] = o.order[n];
    if (line)
      one.lines.push_back(o.lines[index]);
    else
      one.slit = o.slits[index];
    one.output.replace(one.output.find("%d"), 2, std::to_string(n + 1));
    if (!one.timeline.empty()) one.timeline.replace(one.timeline.find("%d"), 2, std::to_string(n + 1));
    each.push_back(std::move(one));
  }
  return each;
}

std::string help_text(int default_threads) {
  const std::string zstd = tiff_can_write(TiffCompression::zstd)
                               ? "zstd: this libtiff writes it"
                               : "zstd: not with this libtiff";
  return R"(Usage: velmora-scan [options] INPUT OUTPUT.png
       velmora-scan [options] INPUT OUTPUT.tif
Cuts a slit out of every chosen frame of a video clip at the clip's own resolution and
lays the strips side by side into one streak image, a PNG or (OUTPUT ending in .tif or
.tiff) a tiled TIFF.

Options:
  --cut vertical|horizontal  cut columns and lay the strips left to right (vertical),
                             or cut rows and lay them top to bottom (horizontal);
                             default: vertical
  --slit POS[:WIDTH]         first column (row) of the slit and its width in pixels;
                             POS may be a percentage such as 50%, as --line's is
                             (of width - 1, height - 1; rounded half up): 0% is the
                             first column (row), 100% the last;
                             default: the middle column (row), width 1;
                             POS as A..B moves the slit from A at the first strip
                             to B at the last, rounded to whole pixels
  --line X0,Y0,X1,Y1[,...]   the slit is the path through these points of the picture
                             as shown (pixel centres at whole numbers; a coordinate
                             may be a decimal or a percentage of width - 1, height - 1);
                             one sample a pixel along the path, bilinear, rounded half
                             up; each strip a column, the first point at the top;
                             P..Q (paths of as many points) moves every point from P
                             at the first strip to Q at the last; not with --cut
  --thickness T              with --line: T parallel lines one pixel apart, centred
                             on the path; default: 1
  --reduce copy|mean|max|min|median
                             how the lines of a --thickness or of a --slit's WIDTH
                             are combined: copy lays them side by side, the others
                             make one line (means rounded half up); default: copy
  --time-axis right|down     strips left to right (columns), or top to bottom (rows,
                             the path's first point at the left); with --slit, down
                             is --cut horizontal (so not with --cut); default: right
                             --slit and --line may be given several times: one
                             image each from one decoding pass, OUTPUT's %d made
                             1, 2, ... in the order given; all or none are written
                             (with --skip-existing, those there are skipped)
  --every N                  frames from one strip to the next; default: 1
  --from A                   first frame (included); a number is a frame, a number
                             with s, m or h a time (12.5s, 1.5m) on the run's clock
                             (an image sequence's: from its first timed image, 25
                             images a second with --clock none); default: the first
  --to B                     last frame (excluded), the same way; past the end means
                             the end; default: the end of the clip
  --threads T                threads that decode, and that deflate the PNG;
                             default: the machine's cores ()" +
         std::to_string(default_threads) + R"()
      --no-rotate            use the frames as stored, ignoring the clip's display
                             rotation; default: turn (and mirror) them as players do
      --compress deflate|zstd|lzw|none
                             a TIFF's compression, with the horizontal predictor
                             ()" + zstd + R"(); default: deflate
      --decoder auto|ffmpeg  auto: JPEG pictures (MJPEG clips and streams, JPEG images)
                             are decoded with libjpeg-turbo and only around the slit,
                             to the pixels image viewers built on it show
                             (progressive, lossless, 12-bit, CMYK, interlaced ones,
                             and those damaged where the slit's rows lie, go to
                             FFmpeg's decoder; damage below the slit is never read);
                             ffmpeg: FFmpeg's decoder for every picture, the window
                             programs' pixels exactly (the two differ by less than
                             one level on average, at sharp colour edges);
                             default: auto
      --timeline FILE        also write the time of every strip to FILE (.csv or
                             .json): strip, position (its first column or row),
                             frame, seconds (from the clip's start), clock (ISO 8601
                             wall-clock time when known), file, note (repeat, gap,
                             no-clock: no time; damaged); with several slits FILE
                             holds %d as OUTPUT does; JSON's image is the streak
                             part (the band of --ticks is in ticks), names not in
                             UTF-8 have each stray byte as \udcXX
      --clock exif|name|mtime|none
                             where the wall-clock time comes from: EXIF
                             DateTimeOriginal, a date and time in the file's name
                             (20261207_221500, 2026-12-07T22-15-00, ...), the file's
                             modification time, or none; a clip's clock is its
                             container's creation time plus the frame's time, a
                             stream's the time each frame arrived; an image
                             sequence has one clock, by default the first of these
                             any image has; an image without it has no time and is
                             left out of --bin (a warning names it); a clock no image
                             has is a usage error; a date the calendar lacks
                             (31 February) is none
      --bin DURATION         instead of --every, one strip per DURATION (60s, 0.5s,
                             2m, 1h) from the earliest chosen frame's time: the first
                             frame in each interval; an interval without one is a
                             black strip (note gap); images whose times run against
                             their order are refused
      --ticks                add a band of time marks with labels (22:15 on a known
                             clock, else 1:30 from the start) below the image (right
                             of it with --cut horizontal), at the smallest round step
                             whose labels do not collide; not with --flush or an
                             input of unknown length
      --format NAME          read INPUT with FFmpeg's demuxer or device NAME (mjpeg,
                             v4l2, ...); default: FFmpeg guesses
      --input-option KEY=VALUE
                             an option of that demuxer or device (framerate=30,
                             video_size=1280x720); may be given again; only for a
                             stream (a clip file or an image sequence takes none
                             without --format); a URL's reads wait 10 s at most
                             unless rw_timeout=MICROSECONDS is given (0: no limit)
      --flush EVERY          every EVERY (a time such as 30s, or a number of strips)
                             replace OUTPUT with the image so far; for an input of
                             known length write it to OUTPUT's name with .partial
                             before the ending (out.partial.png), removed when
                             OUTPUT is written at the end or the run fails;
                             default: write it once, at the end
  -f, --force                overwrite an existing OUTPUT; default: refuse
      --skip-existing        when OUTPUT exists, do nothing and exit with 0 (a note on
                             stderr), so that a rerun of a list of clips redoes only
                             what failed or is missing; not with --force
  -q, --quiet                no progress bar or summary on a terminal, no warning
  -h, --help                 print this help and exit
      --version              print the version and exit

Frames: an AVI clip counts its frame slots as the window programs do (a chunk without a
picture repeats the picture before it). In other containers a clip is constant-rate when
its pictures, in presentation order, fall on the slots 0, 1, 2, ... of the stream's
average frame rate, one to a slot (times rounded to the nearest slot), and counts those
slots. Any other clip is variable-rate and gives one strip per picture, in presentation
order; a time in seconds then picks the first picture shown at or after it.

INPUT is a clip, or an image sequence: a folder (its jpg, jpeg, png, tif, tiff, webp
and bmp files, any case), a glob pattern ('night/*.jpg') or a printf pattern
(frames/%05d.png: every file it names, in number order, from any first number; with
--clock none a missing number is a gap in time; a warning counts them). Images are taken
in natural order (img2 before img10); each is one frame, and --from, --to and --every
count images (times by their clock). Each image is
turned by its own EXIF orientation (JPEG, PNG eXIf, WebP EXIF, TIFF; one reader, one
rule: a SHORT of 1 to 8, the first entry counts); an image whose shown size differs from
the first's is a failure. An image that does not decode (or cannot be read) repeats the
picture before it (note repeat), or is black before the first picture (note damaged); a
JPEG cut short gives what of it decodes (note damaged); a warning counts each kind and
names the first. 16-bit PNG and TIFF give a 16-bit image.
INPUT - is standard input (Matroska, MPEG-TS, NUT, MJPEG, y4m, ... through a pipe; not a
terminal); a URL
(http://, rtsp://, udp://, srt://), a FIFO, a device or any INPUT with --format is read
as a stream: its length is not known, the image grows as strips come (only strips are
held), and the run ends at the stream's end, at --to, or at the first SIGINT or SIGTERM,
which then finishes the image and exits with 0; a second signal abandons the run, as one
does before the first frame (there is no image to finish). A URL's reads time out after
10 s without data (--input-option rw_timeout=MICROSECONDS, 0: none). A
stream's frames are its pictures' times in slots of its frame rate (a slot without a
picture repeats the one before). A picture cut off or damaged is used as decoded, noted
damaged, and counted in a warning; a stream that breaks off says so.

A clip's display rotation (a phone's portrait clip is stored on its side with a note to
turn it) is applied, in quarter turns and with its mirror if any: the cut, the slit's
position and the image are those of the picture as players show it. Other angles are
ignored with a warning.

The image has 16-bit RGB when the clip has more than 8 bits per component, 8-bit RGB
otherwise. A PNG is held whole in memory until it is written; a TIFF (tiles of 256 x 256,
BigTIFF when it could pass 4 GiB) is written tile by tile as the strips come in, in
memory that does not grow with the clip. OUTPUT is written under a temporary name in its
folder and renamed when done.

Many runs on one machine (GNU parallel, a Slurm array): give each a share of the cores
with --threads.

Pictures that stand alone (MJPEG, PNG, rawvideo, huffyuv, utvideo, ProRes, FFV1 with
keyframes only, ...) are decoded by --threads decoders at once; the image is the one a
single decoder gives. A frame that carries on from the one before (FFV1 between
keyframes, told by its first bit, not by the container) sends the rest of the input to
one decoder of --threads threads.

Exit status: 0 done, 1 the clip or the output failed, 2 wrong usage (also a slit or a
range that does not fit the clip), 130 (143, 129, 131) interrupted by SIGINT (SIGTERM,
SIGHUP, SIGQUIT); a stream's first SIGINT or SIGTERM after its first frame ends it with 0.
)";
}

SlitRequest slit_request(const Options& o) {
  SlitRequest r;
  r.cut = o.cut;
  r.slit = o.slit;
  if (!o.lines.empty()) r.line = o.lines.front();
  r.thickness = o.thickness;
  r.reduce = o.reduce;
  r.time_down = o.time_down;
  return r;
}

Options with_line_layout(const Options& o) {
  Options laid = o;
  const SlitRequest r = with_line_layout(slit_request(o));
  laid.cut = r.cut;
  laid.thickness = r.thickness;
  laid.slit.width = r.slit.width;
  return laid;
}

}  // namespace scan
