// SPDX-License-Identifier: GPL-3.0-or-later
// The page's time from --time-origin: exact to the microsecond, signed, reckoned in UTC
// only when both times have a zone, and none for a strip without the time it needs.
#include <gtest/gtest.h>

#include "scan/options.h"
#include "scan/viewer_page.h"

namespace {

TEST(ViewerPage, TimeFromTheOriginIsTheStripsLessTheOrigins) {
  const auto clock = [](const char* iso) { return scan::parse_iso_time(iso); };
  struct Case {
    const char* origin;
    std::optional<double> seconds;
    std::optional<scan::WallTime> clock;
    std::optional<std::string> since;
  } cases[] = {
      {"1.5", 0.8666666666, std::nullopt, "-0.633333"},
      {"-3", 0.5, std::nullopt, "3.500000"},
      {"7.25", 7.25, std::nullopt, "0.000000"},
      {"12", std::nullopt, std::nullopt, std::nullopt},
      {"2026-12-07T19:00:00+01:00", 0.0, clock("2026-12-07T18:00:01.116667Z"), "1.116667"},
      {"2026-12-07T18:00:00Z", 0.0, clock("2026-12-07T17:59:59.5"), "-0.500000"},
      {"2026-12-06T18:00:00", 0.0, clock("2026-12-07T18:00:00+05:00"), "86400.000000"},
      {"2026-12-07T18:00:00", 0.0, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    const scan::Parsed parsed = scan::parse_options(
        {"velmora-scan", "--viewer", "--timeline", "t.csv", "--time-origin", c.origin, "in.mkv", "out.dzi"});
    ASSERT_EQ(parsed.error, "") << c.origin;
    scan::StripRecord record;
    record.seconds = c.seconds;
    record.clock = c.clock;
    EXPECT_EQ(scan::since_origin(record, parsed.request.time_origin), c.since) << c.origin;
  }
}

}  // namespace
