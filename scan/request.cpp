// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/request.h"

#include "scan/displace/video_encoder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace scan {

bool makes_video(const Request& o) {
  return o.video || displace::video_suffix(o.output);
}

namespace {

constexpr int64_t day_micros = int64_t{86400} * 1000000;

// The last moment at or before `now` whose time of day is `of_day`.
int64_t last_at(int64_t of_day, int64_t now) {
  const int64_t midnight = now - ((now % day_micros) + day_micros) % day_micros;
  const int64_t today = midnight + of_day;
  return today <= now ? today : today - day_micros;
}

}  // namespace

std::optional<int64_t> resolve_since(const Request& o, int64_t now) {
  if (!o.since.given) return std::nullopt;
  return o.since.time_of_day ? last_at(o.since.civil_micros, now) : o.since.civil_micros;
}

std::optional<int64_t> resolve_until(const Request& o, int64_t now) {
  if (!o.until.given) return std::nullopt;
  if (!o.until.time_of_day) return o.until.civil_micros;
  if (const std::optional<int64_t> since = resolve_since(o, now))
    return last_at(o.until.civil_micros, *since) + day_micros;
  const int64_t last = last_at(o.until.civil_micros, now);
  return o.watch ? last + day_micros : last;
}

std::vector<Request> each_slit(const Request& o) {
  std::vector<Request> each;
  for (size_t n = 0; n < o.order.size(); ++n) {
    Request one = o;
    one.lines.clear();
    one.slit = SlitSpec{};
    one.slits.clear();
    one.order.clear();
    const auto [line, index] = o.order[n];
    if (line)
      one.lines.push_back(o.lines[index]);
    else
      one.slit = o.slits[index];
    // %n: a selection's own name (--roi), in OUTPUT and the timeline alike. %d numbers
    // whenever it is there, and a slit without a selection has no name to give.
    const bool named = line && one.output.find("%d") == std::string::npos &&
                       one.output.find("%n") != std::string::npos;
    const std::string mark = named ? "%n" : "%d";
    const std::string fill = named ? one.lines.front().name : std::to_string(n + 1);
    if (const size_t at = one.output.find(mark); at != std::string::npos) one.output.replace(at, 2, fill);
    if (const size_t at = one.timeline.find(mark); at != std::string::npos) one.timeline.replace(at, 2, fill);
    each.push_back(std::move(one));
  }
  return each;
}

SlitRequest slit_request(const Request& o) {
  SlitRequest r;
  r.cut = o.cut;
  r.slit = o.slit;
  if (!o.lines.empty()) r.line = o.lines.front();
  r.thickness = o.thickness;
  r.reduce = o.reduce;
  r.time_down = o.time_down;
  return r;
}

Request with_line_layout(const Request& o) {
  Request laid = o;
  const SlitRequest r = with_line_layout(slit_request(o));
  laid.cut = r.cut;
  laid.thickness = r.thickness;
  laid.slit.width = r.slit.width;
  return laid;
}

}  // namespace scan
