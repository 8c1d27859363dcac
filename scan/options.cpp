// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/options.h"

#include "base/result.h"
#include "base/text.h"
#include "scan/displace/video_encoder.h"
#include "scan/time/time_axis.h"
#include "scan/time/timeline.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <initializer_list>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string_view>

namespace scan {
namespace {

// Nothing, or why an option's value is wrong.

bool whole_number(std::string_view text, int64_t& value) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// A plain decimal such as 12 or 12.5, nothing else (no sign, exponent or blanks).
bool decimal(std::string_view text, double& value) {
  const std::optional<double> read = base::plain_decimal(text);
  if (read) value = *read;
  return read.has_value();
}

std::string option_text(std::string_view name, std::string_view value) {
  return "--" + std::string(name) + " " + std::string(value);
}

base::Status parse_point(std::string_view name, std::string_view value, ClipPoint& point) {
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
  return base::usage(point.text + ": not a frame number or a time such as 12.5s, 1.5m or 1h");
}

base::Status parse_position(std::string_view position, const std::string& text, SlitSpec& slit) {
  if (position.ends_with('%')) {
    double percent = 0;
    slit.percent = true;
    if (!decimal(position.substr(0, position.size() - 1), percent))
      return base::usage(text + ": the position is not a percentage such as 50%");
    slit.fraction = percent / 100;
    return {};
  }
  if (!whole_number(position, slit.position))
    return base::usage(text + ": the position is not a column or row number or a percentage");
  return {};
}

base::Status parse_slit(std::string_view value, SlitSpec& slit) {
  slit = SlitSpec{};
  slit.given = true;
  slit.text = option_text("slit", value);
  std::string_view position = value, width;
  if (auto colon = value.find(':'); colon != std::string_view::npos) {
    position = value.substr(0, colon);
    width = value.substr(colon + 1);
    if (!whole_number(width, slit.width) || slit.width < 0)
      return base::usage(slit.text + ": the width is not a whole number of pixels");
    if (slit.width == 0) return base::usage(slit.text + ": a slit of width 0 holds no pixel");
  }
  if (auto dots = position.find(".."); dots != std::string_view::npos) {
    slit.moving = true;
    SlitSpec end;
    if (position.size() == dots + 2)
      return base::usage(slit.text + ": the slit's last position is missing after ..");
    if (base::Status p = parse_position(position.substr(dots + 2), slit.text, end); !p) return p;
    slit.end_percent = end.percent;
    slit.end_position = end.position;
    slit.end_fraction = end.fraction;
    position = position.substr(0, dots);
  }
  return parse_position(position, slit.text, slit);
}

base::Status parse_every(std::string_view value, int64_t& every) {
  if (!whole_number(value, every))
    return base::usage(option_text("every", value) + ": not a whole number");
  if (every <= 0)
    return base::usage(option_text("every", value) + ": must be 1 or more");
  return {};
}

base::Status parse_threads(std::string_view value, int& threads) {
  int64_t count = 0;
  if (!whole_number(value, count))
    return base::usage(option_text("threads", value) + ": not a whole number");
  if (count < 1 || count > 64)
    return base::usage(option_text("threads", value) + ": must be 1 to 64");
  threads = static_cast<int>(count);
  return {};
}

base::Status parse_cut(std::string_view value, strips::Cut& cut) {
  if (value == "vertical")
    cut = strips::Cut::vertical;
  else if (value == "horizontal")
    cut = strips::Cut::horizontal;
  else
    return base::usage(option_text("cut", value) + ": must be vertical or horizontal");
  return {};
}

base::Status parse_compress(std::string_view value, Request& o) {
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
    return base::usage(o.compress_text + ": must be deflate, zstd, lzw or none");
  return {};
}

base::Status parse_timeline(std::string_view value, Request& o) {
  o.timeline = std::string(value);
  if (!timeline_format(o.timeline))
    return base::usage(option_text("timeline", value) + ": the name must end in .csv or .json");
  return {};
}

base::Status parse_clock(std::string_view value, Request& o) {
  const std::optional<ClockSource> source = parse_clock_source(std::string(value));
  if (!source) return base::usage(option_text("clock", value) + ": must be exif, name, mtime or none");
  o.clock = *source;
  return {};
}

base::Status parse_bin(std::string_view value, Request& o) {
  o.bin_text = option_text("bin", value);
  if (!whole_number(value, o.bins)) o.bins = 0;
  const std::optional<double> seconds = parse_duration(std::string(value));
  if (!seconds) return base::usage(o.bin_text + ": not a time above 0 such as 60s, 0.5s, 2m or 1h");
  o.bin = *seconds;
  return {};
}

base::Status parse_input_option(std::string_view value, Request& o) {
  const size_t equals = value.find('=');
  if (equals == std::string_view::npos || equals == 0)
    return base::usage(option_text("input-option", value) + ": not KEY=VALUE");
  o.input_options.emplace_back(value.substr(0, equals), value.substr(equals + 1));
  return {};
}

// A time ("30s", "0.5s") or a number of strips ("100").
base::Status parse_flush(std::string_view value, FlushSpec& flush) {
  flush = FlushSpec{true, false, 0, 0, option_text("flush", value)};
  if (value.ends_with('s')) {
    flush.seconds = true;
    if (decimal(value.substr(0, value.size() - 1), flush.time) && flush.time > 0) return {};
  } else if (whole_number(value, flush.strips) && flush.strips > 0) {
    return {};
  }
  return base::usage(flush.text + ": not a number of strips (1 or more) or a time such as 30s");
}

// A time of day, 22:15 or 22:15:30, as microseconds from midnight.
std::optional<int64_t> time_of_day(std::string_view value) {
  int64_t parts[3] = {0, 0, 0};
  size_t count = 0;
  bool digits = true;
  for (size_t start = 0; digits && start <= value.size(); ++count) {
    const size_t colon = std::min(value.find(':', start), value.size());
    const std::string_view part = value.substr(start, colon - start);
    digits = count < 3 && part.size() == 2 && whole_number(part, parts[count]);
    start = colon + 1;
  }
  if (!digits || count < 2 || parts[0] >= 24 || parts[1] >= 60 || parts[2] >= 60) return std::nullopt;
  return ((parts[0] * 60 + parts[1]) * 60 + parts[2]) * 1000000;
}

base::Status parse_window(std::string_view value, WindowSpec& window) {
  window = WindowSpec{true, 0, 0, option_text("window", value)};
  const size_t dash = value.find('-');
  std::optional<int64_t> start, end;
  if (dash != std::string_view::npos) {
    start = time_of_day(value.substr(0, dash));
    end = time_of_day(value.substr(dash + 1));
  }
  if (!start || !end) return base::usage(window.text + ": not a span of the day such as 18:00-06:00");
  window.start = *start;
  window.end = *end;
  return {};
}

// An ISO date and time (2026-12-07T22:15:00), or a time of day (22:15, 22:15:30).
base::Status parse_bound(std::string_view name, std::string_view value, TimeBound& bound) {
  bound = TimeBound{true, false, 0, option_text(name, value)};
  if (std::optional<WallTime> at = parse_iso_time(std::string(value))) {
    bound.civil_micros = at->civil_micros;
    return {};
  }
  if (const std::optional<int64_t> of_day = time_of_day(value)) {
    bound.time_of_day = true;
    bound.civil_micros = *of_day;
    return {};
  }
  return base::usage(bound.text + ": not a time such as 2026-12-07T22:15:00 or 22:15");
}

// An ISO time, or seconds with an optional minus sign (six decimals at most count).
base::Status parse_time_origin(std::string_view value, TimeOrigin& origin) {
  origin = TimeOrigin{true, parse_iso_time(std::string(value)), 0, option_text("time-origin", value)};
  if (origin.clock) return {};
  const bool minus = value.starts_with('-');
  const std::string_view number = value.substr(minus ? 1 : 0);
  const size_t dot = number.find('.');
  int64_t whole = 0;
  if (base::plain_decimal(number) && number.front() != '.' &&
      whole_number(number.substr(0, dot), whole) && whole < int64_t{1} << 40) {
    size_t at = dot == std::string_view::npos ? number.size() : dot + 1;
    const int64_t micros = whole * 1000000 + base::fraction_micros(number, at);
    origin.micros = minus ? -micros : micros;
    return {};
  }
  return base::usage(origin.text +
                     ": not a time such as 2026-12-07T18:00:00 or seconds such as 12.5");
}

base::Status parse_split(std::string_view value, Request& o) {
  TimeBound at;
  o.split_text = option_text("split-at", value);
  if (!parse_bound("split-at", value, at) || !at.time_of_day)
    return base::usage(o.split_text + ": not a time of day such as 12:00");
  o.split_at = at.civil_micros;
  return {};
}

base::Status parse_idle(std::string_view value, Request& o) {
  o.idle_text = option_text("idle", value);
  const std::optional<double> seconds = parse_duration(std::string(value));
  if (!seconds) return base::usage(o.idle_text + ": not a time above 0 such as 30s, 10m or 1h");
  o.idle = *seconds;
  return {};
}

// A stack's slice or channel: 1 or more.
base::Status parse_plane(std::string_view name, std::string_view value, int& plane) {
  int64_t number = 0;
  if (!whole_number(value, number) || number < 1 || number > 1'000'000)
    return base::usage(option_text(name, value) + ": must be a whole number, 1 or more");
  plane = static_cast<int>(number);
  return {};
}

// A number above 0 followed by one of `units` (name, how many of the value's own unit it
// is); `value` is then in the unit named, `unit` the spelling kept.
struct UnitName {
  std::string_view typed, kept;
  double factor;
};

base::Status parse_measure(std::string_view name, std::string_view v,
                           std::initializer_list<UnitName> units, const char* listed,
                           double& value, std::string* unit) {
  const std::string text(v);
  size_t end = 0;
  while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.'))
    ++end;
  const std::optional<double> number = base::plain_decimal(text.substr(0, end));
  if (!number || !(*number > 0) || !std::isfinite(*number))
    return base::usage(option_text(name, v) + ": must be a number above 0 with its unit (" +
                       listed + ")");
  const std::string_view typed = std::string_view(text).substr(end);
  for (const UnitName& u : units) {
    if (typed != u.typed) continue;
    value = *number * u.factor;
    if (unit) *unit = std::string(u.kept);
    return {};
  }
  return base::usage(option_text(name, v) + ": " +
                     (typed.empty() ? std::string("no unit") : "unknown unit " + std::string(typed)) +
                     "; the units are " + listed);
}

// An option that applies its value to the options read so far, or says why the value is
// wrong.
using Apply = base::Status (*)(std::string_view value, Request& o);

base::Status set_flag(bool& flag) {
  flag = true;
  return {};
}

// One row per option: everything the parser, the dispatch and --help know of it.
struct OptionRow {
  std::string_view name{};   // the long name, without "--"; a literal, so NUL-terminated
  char short_name = 0;       // 0: none
  std::string_view value{};  // the value's name in --help; empty: the option takes none
  std::string_view help{};   // --help's lines, each ending in '\n'; {cores}, {zstd} filled in
  Apply apply = nullptr;     // nullptr for what asks for another action than a run
  Parsed::Action action = Parsed::Action::run;
  // The first options were laid out in --help without room for a short name; the later
  // ones leave it, and --help keeps both.
  bool short_gap = false;
};

const OptionRow rows[] = {
    {.name = "cut",
     .value = "vertical|horizontal",
     .help = "cut columns and lay the strips left to right (vertical),\n"
             "or cut rows and lay them top to bottom (horizontal);\n"
             "default: vertical\n",
     .apply = [](std::string_view v, Request& o) {
       o.cut_given = true;
       return parse_cut(v, o.cut);
     }},
    {.name = "slit",
     .value = "POS[:WIDTH]",
     .help = "first column (row) of the slit and its width in pixels;\n"
             "POS may be a percentage such as 50%, as --line's is\n"
             "(of width - 1, height - 1; rounded half up): 0% is the\n"
             "first column (row), 100% the last;\n"
             "default: the middle column (row), width 1;\n"
             "POS as A..B moves the slit from A at the first strip\n"
             "to B at the last, rounded to whole pixels\n",
     .apply = [](std::string_view v, Request& o) {
       base::Status parsed = parse_slit(v, o.slit);
       o.order.push_back({false, o.slits.size()});
       o.slits.push_back(o.slit);
       return parsed;
     }},
    {.name = "line",
     .value = "X0,Y0,X1,Y1[,...]",
     .help = "the slit is the path through these points of the picture\n"
             "as shown (pixel centres at whole numbers; a coordinate\n"
             "may be a decimal or a percentage of width - 1, height - 1);\n"
             "one sample a pixel along the path, bilinear, rounded half\n"
             "up; each strip a column, the first point at the top;\n"
             "P..Q (paths of as many points) moves every point from P\n"
             "at the first strip to Q at the last; not with --cut\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       auto line = parse_line(v);
       if (!line) return base::failure(line.error());
       o.order.push_back({true, o.lines.size()});
       o.lines.push_back(std::move(*line));
       return {};
     }},
    {.name = "roi",
     .value = "FILE",
     .help = "the slit is the line selection ImageJ saved in FILE (.roi):\n"
             "a straight, segmented or freehand line (its points as a\n"
             "path, as --line's), its width as --thickness unless that\n"
             "is given; other selections are refused by kind; may be\n"
             "given again, as --line may; a RoiSet.zip makes a slit\n"
             "of each line in it, OUTPUT holding %d, or %n for each\n"
             "selection's name\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       LineSpec line;
       line.text = option_text("roi", v);
       line.roi_file = v;
       o.order.push_back({true, o.lines.size()});
       o.lines.push_back(std::move(line));
       return {};
     }},
    {.name = "thickness",
     .value = "T",
     .help = "with --line: T parallel lines one pixel apart, centred\n"
             "on the path; default: 1\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       o.thickness_given = true;
       if (!whole_number(v, o.thickness) || o.thickness < 1)
         return base::usage(option_text("thickness", v) + ": must be a whole number, 1 or more");
       return {};
     }},
    {.name = "reduce",
     .value = "copy|mean|max|min|median",
     .help = "how the lines of a --thickness or of a --slit's WIDTH\n"
             "are combined: copy lays them side by side, the others\n"
             "make one line (means rounded half up); default: copy\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       const std::optional<Reducer> reducer = reducer_named(v);
       if (!reducer) {
         return base::usage(option_text("reduce", v) +
                            ": must be copy, mean, max, min or median");
       }
       o.reduce = *reducer;
       return {};
     }},
    // The last lines speak of --slit and --line together, below the options of the slit.
    {.name = "time-axis",
     .value = "right|down",
     .help = "strips left to right (columns), or top to bottom (rows,\n"
             "the path's first point at the left); with --slit, down\n"
             "is --cut horizontal (so not with --cut); default: right\n"
             "--slit and --line may be given several times: one\n"
             "image each from one decoding pass, OUTPUT's %d made\n"
             "1, 2, ... in the order given; all or none are written\n"
             "(with --skip-existing, those there are skipped)\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       o.time_given = true;
       if (v != "right" && v != "down")
         return base::usage(option_text("time-axis", v) + ": must be right or down");
       o.time_down = v == "down";
       return {};
     }},
    {.name = "every",
     .value = "N",
     .help = "frames from one strip to the next; default: 1\n",
     .apply = [](std::string_view v, Request& o) { return parse_every(v, o.every); }},
    {.name = "from",
     .value = "A",
     .help = "first frame (included); a number is a frame, a number\n"
             "with s, m or h a time (12.5s, 1.5m) on the run's clock\n"
             "(an image sequence's: from its first timed image, 25\n"
             "images a second with --clock none); default: the first\n",
     .apply = [](std::string_view v, Request& o) { return parse_point("from", v, o.from); }},
    {.name = "to",
     .value = "B",
     .help = "last frame (excluded), the same way; past the end means\n"
             "the end; default: the end of the clip\n",
     .apply = [](std::string_view v, Request& o) { return parse_point("to", v, o.to); }},
    {.name = "threads",
     .value = "T",
     .help = "threads that decode, and that deflate the PNG;\n"
             "default: the machine's cores ({cores})\n",
     .apply = [](std::string_view v, Request& o) { return parse_threads(v, o.threads); }},
    {.name = "no-rotate",
     .help = "use the frames as stored, ignoring the clip's display\n"
             "rotation; default: turn (and mirror) them as players do\n",
     .apply = [](std::string_view, Request& o) { return set_flag(o.no_rotate); },
     .short_gap = true},
    {.name = "compress",
     .value = "deflate|zstd|lzw|none",
     .help = "a TIFF's compression, with the horizontal predictor\n"
             "({zstd}); default: deflate\n",
     .apply = [](std::string_view v, Request& o) { return parse_compress(v, o); },
     .short_gap = true},
    {.name = "pyramid",
     .help = "a pyramidal TIFF: below the image, as its SubIFDs, each\n"
             "level half the one above (sides rounded up, each pixel\n"
             "the mean of 2 x 2, rounded half up) down to one tile;\n"
             "only for a TIFF OUTPUT; not with --flush or an input of\n"
             "unknown length\n",
     .apply = [](std::string_view, Request& o) { return set_flag(o.pyramid); },
     .short_gap = true},
    {.name = "tile-format",
     .value = "jpeg|png",
     .help = "a Deep Zoom OUTPUT's tiles (.dzi: NAME.dzi and\n"
             "NAME_files/LEVEL/COL_ROW.jpeg or .png, tiles of 254 with\n"
             "an overlap of 1, levels halved by 2 x 2 means down to\n"
             "1 x 1); JPEG tiles of a 16-bit image carry 8 bits;\n"
             "default: jpeg\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       o.tile_format_text = option_text("tile-format", v);
       if (v != "jpeg" && v != "png")
         return base::usage(o.tile_format_text + ": must be jpeg or png");
       o.tile_format = v == "png" ? TileFormat::png : TileFormat::jpeg;
       return {};
     },
     .short_gap = true},
    {.name = "quality",
     .value = "Q",
     .help = "the quality of a JPEG or WebP OUTPUT (.jpg, .jpeg,\n"
             ".webp: small images, at most 65500 (WebP: 16383)\n"
             "pixels a side, 8 bits) or of Deep Zoom's JPEG tiles,\n"
             "1 to 100; default: 90\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       o.quality_text = option_text("quality", v);
       int64_t q = 0;
       if (!whole_number(v, q) || q < 1 || q > 100)
         return base::usage(o.quality_text + ": must be a whole number from 1 to 100");
       o.quality = static_cast<int>(q);
       return {};
     },
     .short_gap = true},
    {.name = "viewer",
     .help = "with a Deep Zoom OUTPUT: NAME.html beside NAME.dzi, a page\n"
             "that shows the image (its script in NAME_viewer/, nothing\n"
             "from the network; from a folder or any web server) and,\n"
             "under the pointer, the strip and, with --timeline, its\n"
             "frame, clock and seconds\n",
     .apply = [](std::string_view, Request& o) { return set_flag(o.viewer); },
     .short_gap = true},
    {.name = "time-origin",
     .value = "TIME",
     .help = "with --viewer and --timeline: the page also shows each\n"
             "strip's time from TIME (a race's start): an ISO time\n"
             "such as 2026-12-07T18:00:00.5 (with a zone, reckoned in\n"
             "UTC against clocks that have one), or seconds on the\n"
             "timeline's clock such as 12.5 or -3\n",
     .apply = [](std::string_view v, Request& o) { return parse_time_origin(v, o.time_origin); },
     .short_gap = true},
    {.name = "decoder",
     .value = "auto|ffmpeg",
     .help = "auto: JPEG pictures (MJPEG clips and streams, JPEG images)\n"
             "are decoded with libjpeg-turbo and only around the slit,\n"
             "to the pixels image viewers built on it show\n"
             "(progressive, lossless, 12-bit, CMYK, interlaced ones,\n"
             "and those damaged where the slit's rows lie, go to\n"
             "FFmpeg's decoder; damage below the slit is never read);\n"
             "ffmpeg: FFmpeg's decoder for every picture, the window\n"
             "programs' pixels exactly (the two differ by less than\n"
             "one level on average, at sharp colour edges);\n"
             "default: auto\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       if (v != "auto" && v != "ffmpeg")
         return base::usage(option_text("decoder", v) + ": must be auto or ffmpeg");
       o.ffmpeg_decoder = v == "ffmpeg";
       return {};
     },
     .short_gap = true},
    {.name = "timeline",
     .value = "FILE",
     .help = "also write the time of every strip to FILE (.csv or\n"
             ".json): strip, position (its first column or row),\n"
             "frame, seconds (from the clip's start), clock (ISO 8601\n"
             "wall-clock time when known), file, note (repeat, gap,\n"
             "no-clock: no time; damaged); with several slits FILE\n"
             "holds %d as OUTPUT does; JSON's image is the streak\n"
             "part (the band of --ticks is in ticks), names not in\n"
             "UTF-8 have each stray byte as \\udcXX\n",
     .apply = [](std::string_view v, Request& o) { return parse_timeline(v, o); },
     .short_gap = true},
    {.name = "stats",
     .help = "add to --timeline, per strip and channel (red, green,\n"
             "blue), the mean, min, max and sd of the strip's samples\n"
             "as written (after --reduce; the band of --ticks left\n"
             "out): CSV columns red_mean, red_min, ..., blue_sd, JSON\n"
             "stats; sd is the population standard deviation; mean\n"
             "and sd with 6 decimals\n",
     .apply = [](std::string_view, Request& o) { return set_flag(o.stats); },
     .short_gap = true},
    {.name = "clock",
     .value = "exif|name|mtime|none",
     .help = "where the wall-clock time comes from: EXIF\n"
             "DateTimeOriginal, a date and time in the file's name\n"
             "(20261207_221500, 2026-12-07T22-15-00, ...), the file's\n"
             "modification time, or none; a clip's clock is its\n"
             "container's creation time plus the frame's time, a\n"
             "stream's the time each frame arrived; an image\n"
             "sequence has one clock, by default the first of these\n"
             "any image has; an image without it has no time and is\n"
             "left out of --bin (a warning names it); a clock no image\n"
             "has is a usage error; a date the calendar lacks\n"
             "(31 February) is none\n",
     .apply = [](std::string_view v, Request& o) { return parse_clock(v, o); },
     .short_gap = true},
    {.name = "bin",
     .value = "DURATION",
     .help = "instead of --every, one strip per DURATION (60s, 0.5s,\n"
             "2m, 1h) from the earliest chosen frame's time: the first\n"
             "frame in each interval; an interval without one is a\n"
             "black strip (note gap); images whose times run against\n"
             "their order are refused\n",
     .apply = [](std::string_view v, Request& o) { return parse_bin(v, o); },
     .short_gap = true},
    {.name = "ticks",
     .help = "add a band of time marks with labels (22:15 on a known\n"
             "clock, else 1:30 from the start) below the image (right\n"
             "of it with --cut horizontal), at the smallest round step\n"
             "whose labels do not collide; not with --flush or an\n"
             "input of unknown length\n",
     .apply = [](std::string_view, Request& o) { return set_flag(o.ticks); },
     .short_gap = true},
    {.name = "format",
     .value = "NAME",
     .help = "read INPUT with FFmpeg's demuxer or device NAME (mjpeg,\n"
             "v4l2, ...); default: FFmpeg guesses\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       o.input_format = v;
       return {};
     },
     .short_gap = true},
    {.name = "input-option",
     .value = "KEY=VALUE",
     .help = "an option of that demuxer or device (framerate=30,\n"
             "video_size=1280x720); may be given again; only for a\n"
             "stream (a clip file or an image sequence takes none\n"
             "without --format); a URL's reads wait 10 s at most\n"
             "unless rw_timeout=MICROSECONDS is given (0: no limit)\n",
     .apply = [](std::string_view v, Request& o) { return parse_input_option(v, o); },
     .short_gap = true},
    {.name = "flush",
     .value = "EVERY",
     .help = "every EVERY (a time such as 30s, or a number of strips)\n"
             "replace OUTPUT with the image so far; for an input of\n"
             "known length write it to OUTPUT's name with .partial\n"
             "before the ending (out.partial.png), removed when\n"
             "OUTPUT is written at the end or the run fails;\n"
             "default: write it once, at the end\n",
     .apply = [](std::string_view v, Request& o) { return parse_flush(v, o.flush); },
     .short_gap = true},
    {.name = "video",
     .help = "write a time-displaced clip of the input's size and\n"
             "timing instead of an image (also for OUTPUT ending in\n"
             ".mkv, .mp4, .mov, .webm or .nut; OUTPUT - writes Matroska\n"
             "to standard output); needs --delay, --delay-map or\n"
             "--scroll; the audio is not copied\n",
     .apply = [](std::string_view, Request& o) { return set_flag(o.video); },
     .short_gap = true},
    {.name = "delay",
     .value = "ramp:N[:DIRECTION]",
     .help = "output frame t's column x shows input frame t - d(x),\n"
             "d(x) = round(N * x / (width - 1)), halves up: the first\n"
             "column now, the last N frames ago (right); left, down\n"
             "and up run the ramp the other ways (rows for down and\n"
             "up); a chroma sample takes its left (top) luma sample's\n"
             "delay; a frame before the first shows the first\n",
     .apply = [](std::string_view v, Request& o) {
       return displace::parse_ramp(std::string(v), o.delay);
     },
     .short_gap = true},
    {.name = "delay-map",
     .value = "FILE.png",
     .help = "delays from a grey PNG (8 or 16 bits, any size, scaled\n"
             "to the frame with the nearest pixel): value v delays its\n"
             "pixel by round(N * v / vmax) frames\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       o.delay.map = v;
       if (o.delay.map.empty()) return base::usage("--delay-map: needs a file name");
       return {};
     },
     .short_gap = true},
    {.name = "delay-map-frames",
     .value = "N",
     .help = "the N of --delay-map (0 or more)\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       if (!whole_number(v, o.delay.map_frames) || o.delay.map_frames < 0 ||
           o.delay.map_frames > 100000)
         return base::usage(option_text("delay-map-frames", v) + ": must be a whole number, 0 to 100000");
       return {};
     },
     .short_gap = true},
    {.name = "blend",
     .value = "nearest|linear",
     .help = "nearest: the delay rounded to whole frames; linear: the\n"
             "two frames around the exact delay, mixed by its fraction\n"
             "(rounded half up); default: nearest\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       if (v != "nearest" && v != "linear")
         return base::usage(option_text("blend", v) + ": must be nearest or linear");
       o.delay.blend = v == "linear" ? displace::Blend::linear : displace::Blend::nearest;
       return {};
     },
     .short_gap = true},
    {.name = "scroll",
     .help = "with --slit, a clip: output frame t is the streak image\n"
             "of the last width frames' slit, the newest strip at the\n"
             "right edge (column x from frame t - (width - 1 - x) for a\n"
             "slit 1 wide); a frame before the first shows the first\n",
     .apply = [](std::string_view, Request& o) { return set_flag(o.scroll); },
     .short_gap = true},
    {.name = "codec",
     .value = "NAME",
     .help = "the clip's FFmpeg encoder, in the input's pixel format\n"
             "where it takes it; ffv1 is lossless, every pixel exact;\n"
             "default: libx264\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       o.codec = v;
       o.codec_given = true;
       return {};
     },
     .short_gap = true},
    {.name = "crf",
     .value = "Q",
     .help = "the encoder's constant rate factor, for encoders that\n"
             "take one; default: 18\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       int64_t crf = 0;
       if (!whole_number(v, crf) || crf < 0 || crf > 63)
         return base::usage(option_text("crf", v) + ": must be a whole number, 0 to 63");
       o.crf = static_cast<int>(crf);
       o.crf_given = true;
       return {};
     },
     .short_gap = true},
    {.name = "encoder-option",
     .value = "KEY=VALUE",
     .help = "an option of the encoder (preset=veryfast, g=50); may be\n"
             "given again; the encoder keeps 4 threads whatever\n"
             "--threads says (threads=N sets another)\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       const size_t equals = v.find('=');
       if (equals == std::string_view::npos || equals == 0)
         return base::usage(option_text("encoder-option", v) + ": not KEY=VALUE");
       o.encoder_options.emplace_back(v.substr(0, equals), v.substr(equals + 1));
       return {};
     },
      .short_gap = true},
    {.name = "watch",
     .help = "INPUT a folder or a glob of one folder's images: after\n"
             "the images there, wait for new ones (each taken when\n"
             "closed after writing or moved in) and add their strips in\n"
             "their clocks' order; OUTPUT is replaced after each (or at\n"
             "--flush); ends on SIGINT or SIGTERM (the image finished),\n"
             "at --until or after --idle\n",
     .apply = [](std::string_view, Request& o) { return set_flag(o.watch); },
     .short_gap = true},
    {.name = "idle",
     .value = "DURATION",
     .help = "with --watch: end after DURATION (30s, 10m, 1h) without a\n"
             "new image\n",
     .apply = [](std::string_view v, Request& o) { return parse_idle(v, o); },
     .short_gap = true},
    {.name = "since",
     .value = "TIME",
     .help = "only images whose clock is at or after TIME (an ISO time\n"
             "such as 2026-12-07T18:00:00, or a time of day such as\n"
             "18:00: its last moment before now)\n",
     .apply = [](std::string_view v, Request& o) { return parse_bound("since", v, o.since); },
     .short_gap = true},
    {.name = "until",
     .value = "TIME",
     .help = "only images whose clock is before TIME (as --since; a time\n"
             "of day is the first after --since's, else the last before\n"
             "now, with --watch the next); a watch ends when this\n"
             "machine's clock passes it\n",
     .apply = [](std::string_view v, Request& o) { return parse_bound("until", v, o.until); },
      .short_gap = true},
    {.name = "split-at",
     .value = "HH:MM",
     .help = "with --watch: a new OUTPUT from HH:MM on each day, in\n"
             "the clocks' time zone (TZ), for one image a night;\n"
             "OUTPUT and --timeline then hold a strftime date of the\n"
             "period's start (keogram-%Y%m%d.png); each is finished\n"
             "when the next period's first image comes, or at the end\n",
     .apply = [](std::string_view v, Request& o) { return parse_split(v, o); },
     .short_gap = true},
    {.name = "utc",
     .help = "--split-at's time of day in UTC, not the clocks' zone\n",
     .apply = [](std::string_view, Request& o) { return set_flag(o.utc); },
     .short_gap = true},
    {.name = "z",
     .value = "K",
     .help = "a TIFF stack of slices and frames: slice K (1, 2, ...)\n"
             "makes the image; a stack of one frame has its slices\n"
             "as the time instead and takes no --z (a stack's time\n"
             "runs down unless --time-axis or --cut is given)\n",
     .apply = [](std::string_view v, Request& o) { return parse_plane("z", v, o.z); },
     .short_gap = true},
    {.name = "channel",
     .value = "N[,M...]",
     .help = "a TIFF stack of several channels: channel N (1, 2, ...)\n"
             "makes the image; several, each its own, as the channels\n"
             "of one ImageJ TIFF; default: every channel so\n",
     .apply = [](std::string_view v, Request& o) -> base::Status {
       o.channels.clear();
       o.channel = 0;
       for (size_t from = 0;;) {
         const size_t comma = std::min(v.find(',', from), v.size());
         int plane = 0;
         if (base::Status ok = parse_plane("channel", v.substr(from, comma - from), plane); !ok)
           return base::usage(option_text("channel", v) +
                              ": must be whole numbers, 1 or more, apart by commas");
         o.channels.push_back(plane);
         if (comma == v.size()) break;
         from = comma + 1;
       }
       if (o.channels.size() == 1) {
         o.channel = o.channels.front();
         o.channels.clear();
       }
       return {};
     },
     .short_gap = true},
    {.name = "imagej",
     .help = "a .tif OUTPUT is an ImageJ TIFF (calibrated, its strips\n"
             "whole, uncompressed) whatever the input; it is one\n"
             "already for a grey TIFF stack\n",
     .apply = [](std::string_view, Request& o) { return set_flag(o.imagej); },
     .short_gap = true},
    {.name = "pixel-size",
     .value = "SIZE",
     .help = "an ImageJ TIFF's distance a pixel, as 0.108um (units nm,\n"
             "um or micron, mm, cm, m, px); default: the stack's own\n",
     .apply = [](std::string_view v, Request& o) {
       o.pixel_size_text = option_text("pixel-size", v);
       return parse_measure("pixel-size", v,
                            {{"nm", "nm", 1}, {"um", "micron", 1}, {"\u00b5m", "micron", 1}, {"\u03bcm", "micron", 1},
                             {"micron", "micron", 1}, {"mm", "mm", 1}, {"cm", "cm", 1},
                             {"m", "m", 1}, {"px", "pixel", 1}},
                            "nm, um, \u00b5m, micron, mm, cm, m, px", o.pixel_size, &o.pixel_unit);
     },
     .short_gap = true},
    {.name = "frame-interval",
     .value = "TIME",
     .help = "a TIFF stack's time from one time point to the next, as\n"
             "2s (units ms, s, min, h); default: the stack's own\n"
             "(its ImageJ finterval)\n",
     .apply = [](std::string_view v, Request& o) {
       o.frame_interval_text = option_text("frame-interval", v);
       return parse_measure("frame-interval", v,
                            {{"ms", "s", 0.001}, {"s", "s", 1}, {"min", "s", 60}, {"h", "s", 3600}},
                            "ms, s, min, h", o.frame_interval, nullptr);
     },
     .short_gap = true},
    {.name = "nights",
     .help = "the long view: INPUT a folder or a glob of nightly PNG\n"
             "images, each with its CSV timeline beside it (NAME.csv),\n"
             "OUTPUT a PNG with one band a night, as tall as the\n"
             "nights, in date order (the date of the window's start,\n"
             "from the clocks), each squeezed to --bin N columns\n"
             "across the time of day: a bin is the mean of the strips\n"
             "whose clock falls in it, per channel, rounded half up;\n"
             "a date without an image, a bin without a strip and a\n"
             "night that cannot be used are black and noted in\n"
             "--timeline (night, position, date, file, strips,\n"
             "empty_bins, note: missing, unreadable, no-timeline,\n"
             "odd-size, damaged)\n",
     .apply = [](std::string_view, Request& o) { return set_flag(o.nights); },
     .short_gap = true},
    {.name = "window",
     .value = "HH:MM-HH:MM",
     .help = "with --nights: the time of day laid across, its start\n"
             "included, its end not (18:00-06:00 runs past midnight);\n"
             "default: the shortest span of the day that holds every\n"
             "strip's time of day, both ends included\n",
     .apply = [](std::string_view v, Request& o) { return parse_window(v, o.window); },
     .short_gap = true},
    {.name = "force",
     .short_name = 'f',
     .help = "overwrite an existing OUTPUT; default: refuse\n",
     .apply = [](std::string_view, Request& o) { return set_flag(o.force); },
     .short_gap = true},
    {.name = "skip-existing",
     .help = "when OUTPUT exists, do nothing and exit with 0 (a note on\n"
             "stderr), so that a rerun of a list of clips redoes only\n"
             "what failed or is missing; not with --force\n",
     .apply = [](std::string_view, Request& o) { return set_flag(o.skip_existing); },
     .short_gap = true},
    {.name = "quiet",
     .short_name = 'q',
     .help = "no progress bar or summary on a terminal, no warning\n",
     .apply = [](std::string_view, Request& o) { return set_flag(o.quiet); },
     .short_gap = true},
    {.name = "help",
     .short_name = 'h',
     .help = "print this help and exit\n",
     .action = Parsed::Action::help,
     .short_gap = true},
    {.name = "version",
     .help = "print the version and exit\n",
     .action = Parsed::Action::version,
     .short_gap = true},
};

// getopt_long's key of a row: its short name, or a number past every character.
int key_of(size_t row) {
  return rows[row].short_name != 0 ? rows[row].short_name : 256 + static_cast<int>(row);
}

const OptionRow* row_of_key(int key) {
  for (size_t row = 0; row < std::size(rows); ++row)
    if (key_of(row) == key) return &rows[row];
  return nullptr;
}

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

// What spans several options, checked once all are read, in this order.
base::Status force_or_skip(const Request& o) {
  if (o.force && o.skip_existing)
    return base::usage("--force and --skip-existing: give one or the other");
  return {};
}

// Request that do not go together with --line, or with each other.
base::Status line_fits(const Request& o) {
  const bool lines = !o.lines.empty();
  if (lines && o.cut_given)
    return base::usage("--line and --cut: a line runs any way; use --time-axis");
  if (o.thickness_given && !lines)
    return base::usage("--thickness: only with --line (--slit has its WIDTH)");
  if (o.time_given && o.cut_given)
    return base::usage("--time-axis and --cut: give one or the other");
  return {};
}

base::Status watch_fits(const Request& o) {
  if (o.idle > 0 && !o.watch) return base::usage(o.idle_text + ": only with --watch");
  if (o.split_at && !o.watch) return base::usage(o.split_text + ": only with --watch");
  if (o.utc && !o.split_at) return base::usage("--utc: only with --split-at");
  if (o.watch && !o.input_format.empty())
    return base::usage("--watch and --format: --watch follows a folder of images");
  return {};
}

// The page's times are the timeline's: an origin needs both.
base::Status viewer_fits(const Request& o) {
  if (o.time_origin.given && !o.viewer)
    return base::usage(o.time_origin.text + ": only with --viewer");
  if (o.time_origin.given && o.timeline.empty())
    return base::usage(o.time_origin.text + ": the page's times are the timeline's; give --timeline too");
  return {};
}

// The long view takes its nights, --bin N, --window and the options of a run's files.
base::Status nights_fit(const Request& o) {
  if (!o.nights) {
    if (o.window.given) return base::usage(o.window.text + ": only with --nights");
    return {};
  }
  if (o.bins < 1 || o.bins > 100000)
    return base::usage(o.bin_text.empty()
                           ? std::string("--nights: needs --bin N, a whole number of bins")
                           : o.bin_text + ": --nights takes a whole number of bins, 1 to 100000");
  const std::pair<bool, const char*> not_for_nights[] = {
      {o.watch, "--watch"}, {o.video, "--video"}, {!o.order.empty(), "--slit, --line and --roi"},
      {o.every != 1, "--every"}, {o.from.given || o.to.given, "--from and --to"},
      {o.flush.given, "--flush"}, {o.ticks, "--ticks"}, {o.pyramid, "--pyramid"},
      {o.since.given || o.until.given, "--since and --until"}, {o.cut_given || o.time_given, "--cut and --time-axis"}};
  for (const auto& [given, name] : not_for_nights)
    if (given) return base::usage(std::string(name) + ": not with --nights");
  return {};
}

base::Status stats_fits(const Request& o) {
  if (o.stats && o.timeline.empty()) return base::usage("--stats: only with --timeline");
  return {};
}

base::Status bin_or_every(const Request& o) {
  if (o.bin > 0 && o.every != 1)
    return base::usage(o.bin_text + " and --every: give one or the other");
  return {};
}

// A clip's options only with a clip, and what a clip cannot take.
base::Status video_fits(const Request& o) {
  const bool delays = o.delay.ramp || !o.delay.map.empty();
  if (!makes_video(o)) {
    const char* given = delays                         ? "--delay, --delay-map"
                        : o.delay.map_frames >= 0      ? "--delay-map-frames"
                        : o.delay.blend != displace::Blend::nearest ? "--blend"
                        : o.scroll                     ? "--scroll"
                        : o.codec_given                ? "--codec"
                        : o.crf_given                  ? "--crf"
                        : !o.encoder_options.empty()   ? "--encoder-option"
                                                       : nullptr;
    if (given == nullptr) return {};
    return base::usage(std::string(given) +
                       ": only for a clip (--video, or OUTPUT ending in .mkv, .mp4, .mov, "
                       ".webm or .nut)");
  }
  if (o.order.size() > 1)
    return base::usage(o.output + ": a clip is made from one slit at most; several were given");
  if (o.scroll) {
    if (delays) return base::usage("--scroll and --delay, --delay-map: give one or the other");
    if (!o.lines.empty()) return base::usage("--scroll: with --slit, not --line");
    if (o.order.empty()) return base::usage("--scroll: needs --slit POS[:WIDTH]");
    if (o.slit.moving) return base::usage(o.slit.text + ": --scroll takes a slit that stands still");
  } else if (!o.order.empty()) {
    return base::usage(o.output + ": a clip is made from no slit (but with --scroll)");
  }
  const std::pair<bool, const char*> not_for_clip[] = {
      {!o.timeline.empty(), "--timeline"}, {o.ticks, "--ticks"}, {o.bin > 0, "--bin"},
      {o.flush.given, "--flush"},          {o.every != 1, "--every"},
      {o.from.given || o.to.given, "--from and --to"},
      {o.cut_given || o.time_given, "--cut and --time-axis"},
      {o.thickness_given, "--thickness"},  {!o.compress_text.empty(), "--compress"}};
  for (const auto& [given, name] : not_for_clip)
    if (given) return base::usage(std::string(name) + ": not for a clip");
  if (o.delay.ramp && !o.delay.map.empty())
    return base::usage(o.delay.text + " and --delay-map: give one or the other");
  if (!o.delay.map.empty() && o.delay.map_frames < 0)
    return base::usage("--delay-map " + o.delay.map + ": needs --delay-map-frames N");
  if (o.delay.map.empty() && o.delay.map_frames >= 0)
    return base::usage("--delay-map-frames: only with --delay-map");
  if (!delays && !o.scroll)
    return base::usage(o.output + ": a clip needs --delay ramp:N, --delay-map FILE.png or --scroll");
  return {};
}

// INPUT and OUTPUT, which getopt_long has moved behind the options.
base::Status take_files(const std::vector<std::string>& operands, Request& o) {
  if (operands.size() != 2)
    return base::usage("expected INPUT and OUTPUT, got " + std::to_string(operands.size()) +
                       " file name" + (operands.size() == 1 ? "" : "s") + " (see --help)");
  o.input = operands[0];
  o.output = operands[1];
  return {};
}

// OUTPUT (and the timeline) hold %d exactly when there are several slits: each has its own.
base::Status files_numbered(const Request& o) {
  // A RoiSet.zip's slits are counted when the run reads it (with_selections).
  for (const LineSpec& line : o.lines)
    if (base::ends_with_ignoring_case(line.roi_file, ".zip")) return {};
  if (o.split_at) {
    // The name holds the period's date instead.
    if (o.order.size() > 1) return base::usage(o.split_text + ": one slit only");
    if (o.output.find('%') == std::string::npos)
      return base::usage(o.split_text + ": " + o.output +
                         " needs a date for each period, such as keogram-%Y%m%d.png");
    if (!o.timeline.empty() && o.timeline.find('%') == std::string::npos)
      return base::usage(o.split_text + ": --timeline " + o.timeline +
                         " needs a date for each period too");
    return {};
  }
  const bool numbered = o.output.find("%d") != std::string::npos;
  if (o.order.size() > 1 && !numbered)
    return base::usage(o.output + ": several slits need %d in OUTPUT, for 1, 2, ...");
  if (o.order.size() <= 1 && numbered)
    return base::usage(o.output + ": %d in OUTPUT is for several slits; there is one");
  if (o.order.size() > 1 && !o.timeline.empty() && o.timeline.find("%d") == std::string::npos)
    return base::usage("--timeline " + o.timeline + ": several slits need %d in its name too");
  return {};
}

// The option lines of --help, with the threads by default and zstd's note filled in.
std::string option_lines(int default_threads) {
  const std::pair<std::string_view, std::string> filled[] = {
      {"{cores}", std::to_string(default_threads)},
      {"{zstd}", tiff_can_write(TiffCompression::zstd) ? "zstd: this libtiff writes it"
                                                       : "zstd: not with this libtiff"}};
  // The help starts in this column, on the option's line when its name and value leave
  // two blanks before it, else on the next.
  constexpr size_t column = 29;
  std::string text;
  for (const OptionRow& row : rows) {
    std::string left = row.short_name != 0 ? std::string("  -") + row.short_name + ", --"
                       : row.short_gap     ? "      --"
                                           : "  --";
    left += row.name;
    if (!row.value.empty()) left += " " + std::string(row.value);
    text += left.size() + 2 <= column ? left + std::string(column - left.size(), ' ')
                                      : left + "\n" + std::string(column, ' ');
    std::string help(row.help);
    for (const auto& [mark, value] : filled)
      if (const size_t at = help.find(mark); at != std::string::npos)
        help.replace(at, mark.size(), value);
    for (size_t at = help.find('\n'); at + 1 < help.size(); at = help.find('\n', at + 1))
      help.insert(at + 1, column, ' ');
    text += help;
  }
  return text;
}

}  // namespace

std::vector<std::string_view> option_names() {
  std::vector<std::string_view> names;
  for (const OptionRow& row : rows) names.push_back(row.name);
  return names;
}

Parsed parse_options(const std::vector<std::string>& args) {
  std::vector<std::string> copies = args;
  std::vector<char*> argv;
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<option> long_options;
  std::string short_options = ":";  // ':' first: a missing value is told apart
  for (size_t row = 0; row < std::size(rows); ++row) {
    const bool value = !rows[row].value.empty();
    long_options.push_back(
        {rows[row].name.data(), value ? required_argument : no_argument, nullptr, key_of(row)});
    if (rows[row].short_name != 0)
      short_options += std::string(1, rows[row].short_name) + (value ? ":" : "");
  }
  long_options.push_back({nullptr, 0, nullptr, 0});
  Parsed parsed;
  optind = 0;  // glibc: start afresh, so the parser can run more than once
  opterr = 0;  // our own messages
  for (;;) {
    int index = 0;
    int key = getopt_long(static_cast<int>(argv.size()) - 1, argv.data(), short_options.c_str(),
                          long_options.data(), &index);
    if (key == -1) break;
    if (key == '?') return usage_error(offending(argv, optopt) + ": unknown option (see --help)");
    if (key == ':') return usage_error(offending(argv, optopt) + ": needs a value");
    const OptionRow* row = row_of_key(key);
    if (row == nullptr) return usage_error(offending(argv, key) + ": unknown option (see --help)");
    if (row->apply != nullptr)
      parsed.request.given.emplace_back(row->name, optarg != nullptr ? optarg : "");
    if (row->apply == nullptr) {
      parsed.action = row->action;
    } else if (base::Status applied = row->apply(optarg != nullptr ? optarg : "", parsed.request);
               !applied) {
      return usage_error(applied.error().message);
    }
  }
  if (parsed.action != Parsed::Action::run) return parsed;
  Request& o = parsed.request;
  for (base::Status (*check)(const Request&) :
       {force_or_skip, line_fits, bin_or_every, watch_fits, viewer_fits, nights_fit, stats_fits})
    if (base::Status fits = check(o); !fits) return usage_error(fits.error().message);
  if (o.time_down) o.cut = strips::Cut::horizontal;  // a slit across the time axis
  if (base::Status taken = take_files({argv.begin() + optind, argv.end() - 1}, o); !taken)
    return usage_error(taken.error().message);
  if (base::Status fits = video_fits(o); !fits) return usage_error(fits.error().message);
  if (base::Status numbered = files_numbered(o); !numbered) return usage_error(numbered.error().message);
  // A watch brings OUTPUT up to date after each new image unless --flush says otherwise.
  if (o.watch && !o.flush.given) o.flush = FlushSpec{true, false, 0, 1, "--watch"};
  return parsed;
}

std::string help_text(int default_threads) {
  return R"(Usage: velmora-scan [options] INPUT OUTPUT.png
       velmora-scan [options] INPUT OUTPUT.tif
       velmora-scan [options] INPUT OUTPUT.dzi
       velmora-scan --nights --bin N [options] NIGHTS OUTPUT.png
Cuts a slit out of every chosen frame of a video clip at the clip's own resolution and
lays the strips side by side into one streak image, a PNG, (OUTPUT ending in .tif or
.tiff) a tiled TIFF, (.dzi) Deep Zoom tiles, or (.jpg, .jpeg, .webp) a JPEG or WebP.

Request:
)" + option_lines(default_threads) +
         R"(
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

}  // namespace scan
