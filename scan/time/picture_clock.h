// SPDX-License-Identifier: GPL-3.0-or-later
// Where a picture's wall-clock time comes from: the camera's EXIF, a date and time in the
// file's name, or the file's modification time (--clock).
#pragma once
#include <optional>
#include <string>

#include "scan/time/timeline.h"

namespace scan {

enum class ClockSource { automatic, exif, name, mtime, none };

// "exif", "name", "mtime" or "none"; nothing for anything else.
std::optional<ClockSource> parse_clock_source(const std::string& text);

// EXIF DateTimeOriginal ("2026:12:07 22:15:00"), refined by SubSecTimeOriginal and given
// its zone by OffsetTimeOriginal when those are there.
std::optional<WallTime> exif_clock(const std::string& path);
// The three EXIF fields as text, checked and combined; empty subsec/offset when absent.
std::optional<WallTime> exif_time(const std::string& date_time, const std::string& subsec,
                                  const std::string& offset);

// A date and time in a file's name (its folder is not looked at): 20261207_221500,
// 20261207221500, 2026-12-07T22-15-00, 2026-12-07 22.15.00, 2026-12-07_22:15:00,
// IMG_20261207_221500123 (milliseconds), ... A date alone is not a time.
std::optional<WallTime> name_clock(const std::string& path);

// The file's modification time, in this machine's zone with its offset.
std::optional<WallTime> mtime_clock(const std::string& path);

// This moment, as mtime_clock gives a file's time: a live picture's clock is its arrival.
std::optional<WallTime> now_clock();

// The picture's time by `source`; automatic tries EXIF, then the name, then the mtime.
std::optional<WallTime> picture_clock(const std::string& path, ClockSource source);

}  // namespace scan
