// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/time/picture_clock.h"

#include <sys/stat.h>

#include <cctype>
#include <ctime>

#include "base/text.h"
#include "scan/input/exif_reader.h"

namespace scan {
namespace {

using base::fixed_digits;

bool digit_at(const std::string& s, size_t i) {
  return i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]));
}

std::string two(int v) { return std::string(1, char('0' + v / 10)) + char('0' + v % 10); }

// Three numbers of `first`, 2 and 2 digits from `i` (moved past them), with one of
// `separators` between each two, the same both times, or none.
bool three_numbers(const std::string& s, size_t& i, size_t first, const std::string& separators,
                   int& a, int& b, int& c) {
  if (!fixed_digits(s, i, first, a)) return false;
  i += first;
  const char sep = i < s.size() && separators.find(s[i]) != std::string::npos ? s[i] : 0;
  if (sep) ++i;
  if (!fixed_digits(s, i, 2, b)) return false;
  i += 2;
  if (sep && (i >= s.size() || s[i++] != sep)) return false;
  if (!fixed_digits(s, i, 2, c)) return false;
  i += 2;
  return true;
}

// The parts go through parse_iso_time so that ranges are checked in one place.
std::optional<WallTime> civil(int y, int mo, int d, int h, int mi, int s) {
  const std::string iso = std::to_string(y) + "-" + two(mo) + "-" + two(d) + "T" + two(h) + ":" +
                          two(mi) + ":" + two(s);
  if (y < 1900 || y > 2999 || d > 31) return std::nullopt;
  return parse_iso_time(iso);
}

// Date and time starting at `at`: YYYY[sep]MM[sep]DD, a separator or none, HH[sep]MM[sep]SS,
// then optionally up to three digits of milliseconds right after. Bounded by non-digits.
std::optional<WallTime> date_time_at(const std::string& s, size_t at) {
  if (at > 0 && digit_at(s, at - 1)) return std::nullopt;
  int y, mo, d, h, mi, sec;
  size_t i = at;
  if (!three_numbers(s, i, 4, "-_.", y, mo, d)) return std::nullopt;
  const std::string between = "T_- .";
  if (i < s.size() && between.find(s[i]) != std::string::npos) ++i;
  if (!three_numbers(s, i, 2, "-.:_", h, mi, sec)) return std::nullopt;
  int millis = 0;
  if (fixed_digits(s, i, 3, millis)) i += 3;
  if (digit_at(s, i)) return std::nullopt;
  std::optional<WallTime> time = civil(y, mo, d, h, mi, sec);
  if (time) time->civil_micros += int64_t{millis} * 1000;
  return time;
}

}  // namespace

std::optional<ClockSource> parse_clock_source(const std::string& text) {
  if (text == "exif") return ClockSource::exif;
  if (text == "name") return ClockSource::name;
  if (text == "mtime") return ClockSource::mtime;
  if (text == "none") return ClockSource::none;
  return std::nullopt;
}

std::optional<WallTime> exif_time(const std::string& date_time, const std::string& subsec,
                                  const std::string& offset) {
  // "YYYY:MM:DD HH:MM:SS"; cameras without a clock write blanks or zeros.
  int y, mo, d, h, mi, s;
  const std::string& t = date_time;
  if (t.size() < 19 || !fixed_digits(t, 0, 4, y) || t[4] != ':' || !fixed_digits(t, 5, 2, mo) ||
      t[7] != ':' || !fixed_digits(t, 8, 2, d) || t[10] != ' ' || !fixed_digits(t, 11, 2, h) ||
      t[13] != ':' || !fixed_digits(t, 14, 2, mi) || t[16] != ':' || !fixed_digits(t, 17, 2, s))
    return std::nullopt;
  std::optional<WallTime> time = civil(y, mo, d, h, mi, s);
  if (!time) return std::nullopt;
  // SubSecTime is the digits of a decimal fraction: "25" is 0.25 s.
  size_t digits = 0;
  time->civil_micros += base::fraction_micros(subsec, digits);
  if (!offset.empty()) {
    if (std::optional<WallTime> zoned = parse_iso_time("2000-01-01T00:00:00" + offset))
      time->offset_minutes = zoned->offset_minutes;
  }
  return time;
}

std::optional<WallTime> exif_clock(const std::string& path) {
  const ExifFacts exif = read_exif_file(path);
  return exif_time(exif.date_time, exif.subsec, exif.offset);
}

std::optional<WallTime> name_clock(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  for (size_t at = 0; at + 12 <= name.size(); ++at)
    if (std::optional<WallTime> time = date_time_at(name, at)) return time;
  return std::nullopt;
}

namespace {

std::optional<WallTime> local_clock(const timespec& at) {
  std::tm local{};
  const std::time_t seconds = at.tv_sec;
  if (localtime_r(&seconds, &local) == nullptr) return std::nullopt;
  WallTime time;
  time.offset_minutes = static_cast<int>(local.tm_gmtoff / 60);
  time.civil_micros = (int64_t{at.tv_sec} + local.tm_gmtoff) * 1'000'000 + at.tv_nsec / 1000;
  return time;
}

}  // namespace

std::optional<WallTime> mtime_clock(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return local_clock(st.st_mtim);
}

std::optional<WallTime> now_clock() {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return std::nullopt;
  return local_clock(now);
}

std::optional<WallTime> picture_clock(const std::string& path, ClockSource source) {
  switch (source) {
    case ClockSource::exif:
      return exif_clock(path);
    case ClockSource::name:
      return name_clock(path);
    case ClockSource::mtime:
      return mtime_clock(path);
    case ClockSource::none:
      return std::nullopt;
    case ClockSource::automatic:
      break;
  }
  if (auto time = exif_clock(path)) return time;
  if (auto time = name_clock(path)) return time;
  return mtime_clock(path);
}

}  // namespace scan
