// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/options.h"

#include "base/result.h"
#include "base/text.h"
#include "scan/time/time_axis.h"
#include "scan/time/timeline.h"

#include <getopt.h>

#include <cerrno>
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
  return base::failure(point.text + ": not a frame number or a time such as 12.5s, 1.5m or 1h");
}

base::Status parse_position(std::string_view position, const std::string& text, SlitSpec& slit) {
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

base::Status parse_slit(std::string_view value, SlitSpec& slit) {
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
    return base::failure(option_text("every", value) + ": not a whole number");
  if (every <= 0)
    return base::failure(option_text("every", value) + ": must be 1 or more");
  return {};
}

base::Status parse_threads(std::string_view value, int& threads) {
  int64_t count = 0;
  if (!whole_number(value, count))
    return base::failure(option_text("threads", value) + ": not a whole number");
  if (count < 1 || count > 64)
    return base::failure(option_text("threads", value) + ": must be 1 to 64");
  threads = static_cast<int>(count);
  return {};
}

base::Status parse_cut(std::string_view value, strips::Cut& cut) {
  if (value == "vertical")
    cut = strips::Cut::vertical;
  else if (value == "horizontal")
    cut = strips::Cut::horizontal;
  else
    return base::failure(option_text("cut", value) + ": must be vertical or horizontal");
  return {};
}

base::Status parse_compress(std::string_view value, Options& o) {
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

base::Status parse_timeline(std::string_view value, Options& o) {
  o.timeline = std::string(value);
  if (!timeline_format(o.timeline))
    return base::failure(option_text("timeline", value) + ": the name must end in .csv or .json");
  return {};
}

base::Status parse_clock(std::string_view value, Options& o) {
  const std::optional<ClockSource> source = parse_clock_source(std::string(value));
  if (!source) return base::failure(option_text("clock", value) + ": must be exif, name, mtime or none");
  o.clock = *source;
  return {};
}

base::Status parse_bin(std::string_view value, Options& o) {
  o.bin_text = option_text("bin", value);
  const std::optional<double> seconds = parse_duration(std::string(value));
  if (!seconds) return base::failure(o.bin_text + ": not a time above 0 such as 60s, 0.5s, 2m or 1h");
  o.bin = *seconds;
  return {};
}

base::Status parse_input_option(std::string_view value, Options& o) {
  const size_t equals = value.find('=');
  if (equals == std::string_view::npos || equals == 0)
    return base::failure(option_text("input-option", value) + ": not KEY=VALUE");
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
  return base::failure(flush.text + ": not a number of strips (1 or more) or a time such as 30s");
}

// A stack's slice or channel: 1 or more.
base::Status parse_plane(std::string_view name, std::string_view value, int& plane) {
  int64_t number = 0;
  if (!whole_number(value, number) || number < 1 || number > 1'000'000)
    return base::failure(option_text(name, value) + ": must be a whole number, 1 or more");
  plane = static_cast<int>(number);
  return {};
}

// An option that applies its value to the options read so far, or says why the value is
// wrong.
using Apply = base::Status (*)(std::string_view value, Options& o);

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
     .apply = [](std::string_view v, Options& o) {
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
     .apply = [](std::string_view v, Options& o) {
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
     .apply = [](std::string_view v, Options& o) -> base::Status {
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
     .apply = [](std::string_view v, Options& o) -> base::Status {
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
     .apply = [](std::string_view v, Options& o) -> base::Status {
       o.thickness_given = true;
       if (!whole_number(v, o.thickness) || o.thickness < 1)
         return base::failure(option_text("thickness", v) + ": must be a whole number, 1 or more");
       return {};
     }},
    {.name = "reduce",
     .value = "copy|mean|max|min|median",
     .help = "how the lines of a --thickness or of a --slit's WIDTH\n"
             "are combined: copy lays them side by side, the others\n"
             "make one line (means rounded half up); default: copy\n",
     .apply = [](std::string_view v, Options& o) -> base::Status {
       const std::optional<Reducer> reducer = reducer_named(v);
       if (!reducer) {
         return base::failure(option_text("reduce", v) +
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
     .apply = [](std::string_view v, Options& o) -> base::Status {
       o.time_given = true;
       if (v != "right" && v != "down")
         return base::failure(option_text("time-axis", v) + ": must be right or down");
       o.time_down = v == "down";
       return {};
     }},
    {.name = "every",
     .value = "N",
     .help = "frames from one strip to the next; default: 1\n",
     .apply = [](std::string_view v, Options& o) { return parse_every(v, o.every); }},
    {.name = "from",
     .value = "A",
     .help = "first frame (included); a number is a frame, a number\n"
             "with s, m or h a time (12.5s, 1.5m) on the run's clock\n"
             "(an image sequence's: from its first timed image, 25\n"
             "images a second with --clock none); default: the first\n",
     .apply = [](std::string_view v, Options& o) { return parse_point("from", v, o.from); }},
    {.name = "to",
     .value = "B",
     .help = "last frame (excluded), the same way; past the end means\n"
             "the end; default: the end of the clip\n",
     .apply = [](std::string_view v, Options& o) { return parse_point("to", v, o.to); }},
    {.name = "threads",
     .value = "T",
     .help = "threads that decode, and that deflate the PNG;\n"
             "default: the machine's cores ({cores})\n",
     .apply = [](std::string_view v, Options& o) { return parse_threads(v, o.threads); }},
    {.name = "no-rotate",
     .help = "use the frames as stored, ignoring the clip's display\n"
             "rotation; default: turn (and mirror) them as players do\n",
     .apply = [](std::string_view, Options& o) { return set_flag(o.no_rotate); },
     .short_gap = true},
    {.name = "compress",
     .value = "deflate|zstd|lzw|none",
     .help = "a TIFF's compression, with the horizontal predictor\n"
             "({zstd}); default: deflate\n",
     .apply = [](std::string_view v, Options& o) { return parse_compress(v, o); },
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
     .apply = [](std::string_view v, Options& o) -> base::Status {
       if (v != "auto" && v != "ffmpeg")
         return base::failure(option_text("decoder", v) + ": must be auto or ffmpeg");
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
     .apply = [](std::string_view v, Options& o) { return parse_timeline(v, o); },
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
     .apply = [](std::string_view v, Options& o) { return parse_clock(v, o); },
     .short_gap = true},
    {.name = "bin",
     .value = "DURATION",
     .help = "instead of --every, one strip per DURATION (60s, 0.5s,\n"
             "2m, 1h) from the earliest chosen frame's time: the first\n"
             "frame in each interval; an interval without one is a\n"
             "black strip (note gap); images whose times run against\n"
             "their order are refused\n",
     .apply = [](std::string_view v, Options& o) { return parse_bin(v, o); },
     .short_gap = true},
    {.name = "ticks",
     .help = "add a band of time marks with labels (22:15 on a known\n"
             "clock, else 1:30 from the start) below the image (right\n"
             "of it with --cut horizontal), at the smallest round step\n"
             "whose labels do not collide; not with --flush or an\n"
             "input of unknown length\n",
     .apply = [](std::string_view, Options& o) { return set_flag(o.ticks); },
     .short_gap = true},
    {.name = "format",
     .value = "NAME",
     .help = "read INPUT with FFmpeg's demuxer or device NAME (mjpeg,\n"
             "v4l2, ...); default: FFmpeg guesses\n",
     .apply = [](std::string_view v, Options& o) -> base::Status {
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
     .apply = [](std::string_view v, Options& o) { return parse_input_option(v, o); },
     .short_gap = true},
    {.name = "flush",
     .value = "EVERY",
     .help = "every EVERY (a time such as 30s, or a number of strips)\n"
             "replace OUTPUT with the image so far; for an input of\n"
             "known length write it to OUTPUT's name with .partial\n"
             "before the ending (out.partial.png), removed when\n"
             "OUTPUT is written at the end or the run fails;\n"
             "default: write it once, at the end\n",
     .apply = [](std::string_view v, Options& o) { return parse_flush(v, o.flush); },
     .short_gap = true},
    {.name = "z",
     .value = "K",
     .help = "a TIFF stack of slices and frames: slice K (1, 2, ...)\n"
             "makes the image; a stack of one frame has its slices\n"
             "as the time instead and takes no --z (a stack's time\n"
             "runs down unless --time-axis or --cut is given)\n",
     .apply = [](std::string_view v, Options& o) { return parse_plane("z", v, o.z); },
     .short_gap = true},
    {.name = "channel",
     .value = "N",
     .help = "a TIFF stack of several channels: channel N (1, 2, ...)\n"
             "makes the image; one of several channels is refused\n"
             "without it\n",
     .apply = [](std::string_view v, Options& o) { return parse_plane("channel", v, o.channel); },
     .short_gap = true},
    {.name = "force",
     .short_name = 'f',
     .help = "overwrite an existing OUTPUT; default: refuse\n",
     .apply = [](std::string_view, Options& o) { return set_flag(o.force); },
     .short_gap = true},
    {.name = "skip-existing",
     .help = "when OUTPUT exists, do nothing and exit with 0 (a note on\n"
             "stderr), so that a rerun of a list of clips redoes only\n"
             "what failed or is missing; not with --force\n",
     .apply = [](std::string_view, Options& o) { return set_flag(o.skip_existing); },
     .short_gap = true},
    {.name = "quiet",
     .short_name = 'q',
     .help = "no progress bar or summary on a terminal, no warning\n",
     .apply = [](std::string_view, Options& o) { return set_flag(o.quiet); },
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
base::Status force_or_skip(const Options& o) {
  if (o.force && o.skip_existing)
    return base::failure(std::string("--force and --skip-existing: give one or the other"));
  return {};
}

// Options that do not go together with --line, or with each other.
base::Status line_fits(const Options& o) {
  const bool lines = !o.lines.empty();
  if (lines && o.cut_given)
    return base::failure(std::string("--line and --cut: a line runs any way; use --time-axis"));
  if (o.thickness_given && !lines)
    return base::failure(std::string("--thickness: only with --line (--slit has its WIDTH)"));
  if (o.time_given && o.cut_given)
    return base::failure(std::string("--time-axis and --cut: give one or the other"));
  return {};
}

base::Status bin_or_every(const Options& o) {
  if (o.bin > 0 && o.every != 1)
    return base::failure(o.bin_text + " and --every: give one or the other");
  return {};
}

// INPUT and OUTPUT, which getopt_long has moved behind the options.
base::Status take_files(const std::vector<std::string>& operands, Options& o) {
  if (operands.size() != 2)
    return base::failure("expected INPUT and OUTPUT, got " + std::to_string(operands.size()) +
                         " file name" + (operands.size() == 1 ? "" : "s") + " (see --help)");
  o.input = operands[0];
  o.output = operands[1];
  return {};
}

// OUTPUT (and the timeline) hold %d exactly when there are several slits: each has its own.
base::Status files_numbered(const Options& o) {
  // A RoiSet.zip's slits are counted when the run reads it (with_selections).
  for (const LineSpec& line : o.lines)
    if (base::ends_with_ignoring_case(line.roi_file, ".zip")) return {};
  const bool numbered = o.output.find("%d") != std::string::npos;
  if (o.order.size() > 1 && !numbered)
    return base::failure(o.output + ": several slits need %d in OUTPUT, for 1, 2, ...");
  if (o.order.size() <= 1 && numbered)
    return base::failure(o.output + ": %d in OUTPUT is for several slits; there is one");
  if (o.order.size() > 1 && !o.timeline.empty() && o.timeline.find("%d") == std::string::npos)
    return base::failure("--timeline " + o.timeline + ": several slits need %d in its name too");
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
    if (row->apply == nullptr) {
      parsed.action = row->action;
    } else if (base::Status applied = row->apply(optarg != nullptr ? optarg : "", parsed.options);
               !applied) {
      return usage_error(applied.error());
    }
  }
  if (parsed.action != Parsed::Action::run) return parsed;
  Options& o = parsed.options;
  for (base::Status (*check)(const Options&) : {force_or_skip, line_fits, bin_or_every})
    if (base::Status fits = check(o); !fits) return usage_error(fits.error());
  if (o.time_down) o.cut = strips::Cut::horizontal;  // a slit across the time axis
  if (base::Status taken = take_files({argv.begin() + optind, argv.end() - 1}, o); !taken)
    return usage_error(taken.error());
  if (base::Status numbered = files_numbered(o); !numbered) return usage_error(numbered.error());
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
    // %n: a selection's own name (--roi), in OUTPUT and the timeline alike.
    const std::string mark = one.output.find("%d") != std::string::npos ? "%d" : "%n";
    const std::string fill = mark == "%d" ? std::to_string(n + 1) : one.lines.front().name;
    one.output.replace(one.output.find(mark), 2, fill);
    if (const size_t at = one.timeline.find(mark); at != std::string::npos)
      one.timeline.replace(at, 2, fill);
    each.push_back(std::move(one));
  }
  return each;
}

std::string help_text(int default_threads) {
  return R"(Usage: velmora-scan [options] INPUT OUTPUT.png
       velmora-scan [options] INPUT OUTPUT.tif
Cuts a slit out of every chosen frame of a video clip at the clip's own resolution and
lays the strips side by side into one streak image, a PNG or (OUTPUT ending in .tif or
.tiff) a tiled TIFF.

Options:
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
