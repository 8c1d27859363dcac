// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/time/timeline.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "base/text.h"

namespace scan {
namespace {

using base::fixed_digits;

constexpr int64_t micros_per_second = 1'000'000;

// Days from 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm), so that
// no time zone of this machine enters a stated time.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

const char* note_text(StripNote note) {
  switch (note) {
    case StripNote::repeat:
      return "repeat";
    case StripNote::gap:
      return "gap";
    case StripNote::no_clock:
      return "no-clock";
    case StripNote::damaged:
      return "damaged";
    case StripNote::none:
      break;
  }
  return "";
}

// RFC 4180: a field with a comma, a quote or a line break is quoted, quotes doubled.
std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// The length of the valid UTF-8 sequence at `at`, or 0 (overlong forms, surrogates and
// code points past U+10FFFF are not valid).
size_t utf8_length(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char c = byte(at);
  if (c < 0x80) return 1;
  const size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (n == 0 || at + n > text.size()) return 0;
  for (size_t i = 1; i < n; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  const unsigned char second = byte(at + 1);
  if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) ||
      (c == 0xF0 && second < 0x90) || (c == 0xF4 && second > 0x8F))
    return 0;
  return n;
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  char escaped[8];
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t n = utf8_length(text, i);
    if (n == 0) {
      std::snprintf(escaped, sizeof escaped, "\\udc%02x", c);
      out += escaped;
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out + "\"";
}

std::string seconds_text(const StripRecord& record, const char* none) {
  return record.seconds ? timeline_seconds(*record.seconds) : none;
}

std::string clock_text(const StripRecord& record) {
  return record.clock ? iso_time(*record.clock) : std::string();
}

// ",CHANNEL_mean,..." for the CSV's header, or one record's ",12.500000,3,40,6.250000,...".
std::string stats_csv_header(int channels) {
  std::string out;
  for (const std::string& name : channel_names(channels))
    for (const char* what : {"_mean", "_min", "_max", "_sd"}) out += ',' + name + what;
  return out;
}

// A record without figures (a strip never laid) has empty fields, never made-up ones.
std::string stats_csv(const StripRecord& r, int channels) {
  std::string out;
  for (int c = 0; c < channels; ++c) {
    if (c >= static_cast<int>(r.stats.size())) {
      out += ",,,,";
      continue;
    }
    const ChannelStats& s = r.stats[c];
    out += ',' + timeline_seconds(s.mean) + ',' + std::to_string(s.min) + ',' +
           std::to_string(s.max) + ',' + timeline_seconds(s.sd);
  }
  return out;
}

std::string stats_json(const StripRecord& r, int channels) {
  if (channels == 0) return "";
  if (static_cast<int>(r.stats.size()) != channels) return ",\"stats\":null";
  const std::vector<std::string> names = channel_names(channels);
  std::string out = ",\"stats\":{";
  for (int c = 0; c < channels; ++c) {
    const ChannelStats& s = r.stats[c];
    out += std::string(c ? "," : "") + json_string(names[static_cast<size_t>(c)]) +
           ":{\"mean\":" + timeline_seconds(s.mean) + ",\"min\":" + std::to_string(s.min) +
           ",\"max\":" + std::to_string(s.max) + ",\"sd\":" + timeline_seconds(s.sd) + "}";
  }
  return out + "}";
}

}  // namespace

WallTime WallTime::plus(double seconds) const {
  WallTime later = *this;
  later.civil_micros += static_cast<int64_t>(std::llround(seconds * micros_per_second));
  return later;
}

std::optional<int64_t> WallTime::utc_micros() const {
  if (!offset_minutes) return std::nullopt;
  return civil_micros - int64_t{*offset_minutes} * 60 * micros_per_second;
}

std::string iso_time(const WallTime& time) {
  const int64_t whole = floor_div(time.civil_micros, micros_per_second);
  const int64_t micros = time.civil_micros - whole * micros_per_second;
  const int64_t days = floor_div(whole, 86400);
  const int64_t of_day = whole - days * 86400;
  int64_t year = 0;
  unsigned month = 0, day = 0;
  civil_from_days(days, year, month, day);
  char text[80];
  int n = std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02d",
                        static_cast<long long>(year), month, day, static_cast<int>(of_day / 3600),
                        static_cast<int>(of_day / 60 % 60), static_cast<int>(of_day % 60));
  if (micros != 0) n += std::snprintf(text + n, sizeof text - n, ".%06lld", static_cast<long long>(micros));
  if (time.offset_minutes) {
    const int offset = *time.offset_minutes;
    if (offset == 0)
      std::snprintf(text + n, sizeof text - n, "Z");
    else
      std::snprintf(text + n, sizeof text - n, "%c%02d:%02d", offset < 0 ? '-' : '+',
                    std::abs(offset) / 60, std::abs(offset) % 60);
  }
  return text;
}

std::optional<WallTime> parse_iso_time(const std::string& text) {
  int year, month, day, hour, minute, second;
  if (!fixed_digits(text, 0, 4, year) || text.size() < 19 || text[4] != '-' ||
      !fixed_digits(text, 5, 2, month) || text[7] != '-' || !fixed_digits(text, 8, 2, day) ||
      (text[10] != 'T' && text[10] != ' ') || !fixed_digits(text, 11, 2, hour) || text[13] != ':' ||
      !fixed_digits(text, 14, 2, minute) || text[16] != ':' || !fixed_digits(text, 17, 2, second))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return std::nullopt;
  // 31 February is no date, not 3 March: the day must be one its month has.
  int64_t same_year = 0;
  unsigned same_month = 0, same_day = 0;
  civil_from_days(days_from_civil(year, month, day), same_year, same_month, same_day);
  if (same_day != static_cast<unsigned>(day)) return std::nullopt;
  size_t at = 19;
  int64_t micros = 0;
  if (at < text.size() && text[at] == '.') micros = base::fraction_micros(text, ++at);
  WallTime time;
  time.civil_micros =
      ((days_from_civil(year, month, day) * 24 + hour) * 60 + minute) * 60 * micros_per_second +
      int64_t{second} * micros_per_second + micros;
  if (at == text.size()) return time;
  if (text[at] == 'Z' && at + 1 == text.size()) {
    time.offset_minutes = 0;
    return time;
  }
  int hours = 0, minutes = 0;
  const bool colon = at + 3 < text.size() && text[at + 3] == ':';
  if ((text[at] != '+' && text[at] != '-') || !fixed_digits(text, at + 1, 2, hours) ||
      !fixed_digits(text, at + (colon ? 4 : 3), 2, minutes) ||
      at + (colon ? 6 : 5) != text.size() || hours > 23 || minutes > 59)
    return std::nullopt;
  time.offset_minutes = (text[at] == '-' ? -1 : 1) * (hours * 60 + minutes);
  return time;
}

std::string timeline_seconds(double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", seconds);
  return text;
}

std::optional<TimelineFormat> timeline_format(const std::string& path) {
  auto ends = [&](std::string_view suffix) {
    return path.size() > suffix.size() && base::ends_with_ignoring_case(path, suffix);
  };
  if (ends(".csv")) return TimelineFormat::csv;
  if (ends(".json")) return TimelineFormat::json;
  return std::nullopt;
}

std::string timeline_csv(const std::vector<StripRecord>& records, int stats_channels) {
  std::string out = "strip,position,frame,seconds,clock,file,note" + stats_csv_header(stats_channels) + "\n";
  for (const StripRecord& r : records) {
    out += std::to_string(r.strip) + ',' + std::to_string(r.position) + ',' +
           (r.frame >= 0 ? std::to_string(r.frame) : std::string()) + ',' +
           seconds_text(r, "") + ',' + clock_text(r) + ',' + csv_field(r.file) + ',' +
           note_text(r.note) + stats_csv(r, stats_channels) + '\n';
  }
  return out;
}

std::string timeline_json(const TimelineHead& head, const std::vector<StripRecord>& records) {
  std::string out = "{\"input\":" + json_string(head.input) + ",\"image\":{\"width\":" +
                    std::to_string(head.width) + ",\"height\":" + std::to_string(head.height) +
                    "},\"slit\":{\"cut\":" + json_string(head.cut) +
                    ",\"position\":" + std::to_string(head.slit_position) +
                    ",\"width\":" + std::to_string(head.slit_width) +
                    (head.line.empty() ? "" : ",\"line\":" + json_string(head.line)) + "}" +
                    (head.band == 0 ? "" : ",\"ticks\":{\"band\":" + std::to_string(head.band) +
                                               ",\"side\":" + json_string(head.cut == "vertical" ? "below" : "right") + "}") +
                    ",\"strips\":[";
  for (size_t i = 0; i < records.size(); ++i) {
    const StripRecord& r = records[i];
    out += std::string(i ? ",\n" : "\n") + "{\"strip\":" + std::to_string(r.strip) +
           ",\"position\":" + std::to_string(r.position) +
           ",\"frame\":" + (r.frame >= 0 ? std::to_string(r.frame) : std::string("null")) +
           ",\"seconds\":" + seconds_text(r, "null") +
           ",\"clock\":" + json_string(clock_text(r)) + ",\"file\":" + json_string(r.file) +
           ",\"note\":" + json_string(note_text(r.note)) + stats_json(r, head.stats_channels) + "}";
  }
  return out + "\n]}\n";
}

namespace {

// The fields of one CSV line from `at`, quotes undone; `at` is left past the line's end.
std::vector<std::string> csv_line(const std::string& text, size_t& at) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (quoted) {
      if (c != '"')
        fields.back() += c;
      else if (at + 1 < text.size() && text[at + 1] == '"')
        fields.back() += text[++at];
      else
        quoted = false;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else if (c == '\n') {
      ++at;
      break;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

}  // namespace

base::Result<std::vector<StripRecord>, base::Error> read_timeline_csv(const std::string& text) {
  size_t at = 0;
  if (csv_line(text, at) != std::vector<std::string>{"strip", "position", "frame", "seconds",
                                                      "clock", "file", "note"})
    return base::failed("not a timeline: its first line is not velmora-scan's CSV head");
  std::vector<StripRecord> records;
  for (int64_t line = 2; at < text.size(); ++line) {
    const std::vector<std::string> f = csv_line(text, at);
    StripRecord r;
    bool read = f.size() == 7 && !f[0].empty() && !f[1].empty();
    if (read) {
      auto [end0, e0] = std::from_chars(f[0].data(), f[0].data() + f[0].size(), r.strip);
      auto [end1, e1] = std::from_chars(f[1].data(), f[1].data() + f[1].size(), r.position);
      read = e0 == std::errc() && e1 == std::errc() && end0 == f[0].data() + f[0].size() &&
             end1 == f[1].data() + f[1].size() && r.position >= 0;
    }
    if (read && !f[4].empty()) {
      r.clock = parse_iso_time(f[4]);
      read = r.clock.has_value();
    }
    if (read) {
      const StripNote notes[] = {StripNote::none, StripNote::repeat, StripNote::gap,
                                 StripNote::no_clock, StripNote::damaged};
      read = false;
      for (StripNote note : notes)
        if (f[6] == note_text(note)) {
          r.note = note;
          read = true;
        }
    }
    if (!read) return base::failed("line " + std::to_string(line) + " is not a strip's record");
    r.file = f[5];
    records.push_back(std::move(r));
  }
  return records;
}

}  // namespace scan
