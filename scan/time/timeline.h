// SPDX-License-Identifier: GPL-3.0-or-later
// The time of every strip: one record per strip, written beside the image as CSV or JSON
// so that a column (or row) of the streak image can be read off as a time.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "scan/time/strip_stats.h"

namespace scan {

// A wall-clock time as a camera or a file states it: the civil date and time counted as
// seconds from 1970-01-01 00:00 of that same (unnamed) zone, and the zone's offset from UTC
// when it is known. EXIF and file names often give no offset; such a time is still written,
// without one.
struct WallTime {
  int64_t civil_micros = 0;
  std::optional<int> offset_minutes;

  WallTime plus(double seconds) const;
  // Microseconds since the epoch in UTC, when the offset is known.
  std::optional<int64_t> utc_micros() const;
};

// ISO 8601: 2026-12-07T22:15:00, with .ffffff when not whole seconds and +01:00 (Z for UTC)
// when the offset is known.
std::string iso_time(const WallTime& time);

// Reads an ISO 8601 date and time as containers state creation_time
// ("2026-12-07T22:15:00.000000Z", also with a space for T and with +hh:mm or no zone).
std::optional<WallTime> parse_iso_time(const std::string& text);

// no_clock: an image without the run's clock, laid in order with no time; damaged: a
// picture that ended early, or no picture where none came before to repeat.
enum class StripNote { none, repeat, gap, no_clock, damaged };

struct StripRecord {
  int64_t strip = 0;
  int64_t position = 0;  // first column (vertical cut) or row of the strip in the image
  int64_t frame = -1;    // -1: no frame (a gap)
  std::optional<double> seconds = 0.0;  // from the clip's start; none without a clock
  std::optional<WallTime> clock;
  std::string file;  // the image's name for sequences
  StripNote note = StripNote::none;
  std::vector<ChannelStats> stats;  // --stats: per channel; empty without
};

// What the JSON says of the run besides the strips.
struct TimelineHead {
  std::string input;
  int64_t width = 0, height = 0;  // of the streak part of the image
  std::string cut;                // "vertical" or "horizontal"
  int64_t slit_position = 0, slit_width = 1;
  std::string line;  // a slit along a path (or reduced, or moving): the option as typed
  int64_t band = 0;  // --ticks: rows below (vertical cut) or columns right of the streak
  int stats_channels = 0;  // --stats: the channels each strip's record gives; 0: none
};

enum class TimelineFormat { csv, json };

// By the name's ending, .csv or .json in any case; nothing otherwise.
std::optional<TimelineFormat> timeline_format(const std::string& path);

// A strip's seconds as the timeline writes them: six decimals.
std::string timeline_seconds(double seconds);

// --stats (`stats_channels` > 0) adds CHANNEL_mean, _min, _max and _sd after note: means and
// deviations with six decimals, the extremes as the integer samples they are.
std::string timeline_csv(const std::vector<StripRecord>& records, int stats_channels = 0);
// Names are bytes: a byte that is not part of valid UTF-8 is written as \udcXX (XX the
// byte), as Python's surrogateescape reads it, so that every JSON reader takes the file.
std::string timeline_json(const TimelineHead& head, const std::vector<StripRecord>& records);

// Reads back what timeline_csv() wrote: each record's strip, position, clock and note (the
// other columns are not needed again); a message naming the line when the text is not such
// a timeline.
base::Result<std::vector<StripRecord>, base::Error> read_timeline_csv(const std::string& text);

}  // namespace scan
