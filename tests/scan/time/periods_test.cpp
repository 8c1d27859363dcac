// SPDX-License-Identifier: GPL-3.0-or-later
// --split-at's periods over a watch's pictures as they come: which picture opens a period,
// its name, and each picture's time counted from its period's start.
#include <gtest/gtest.h>

#include "scan/time/periods.h"

namespace {

TEST(Periods, PicturesOpenTheirPeriodsAndCountFromItsStart) {
  const struct {
    const char* clock;  // the picture's, or none
    const char* opens;  // the OUTPUT of the period it opens, or none
    double seconds;     // its time in its period's timeline
  } pictures[] = {
      {"2026-12-07T11:00:00Z", "night-20261206-12.png", 0},
      {nullptr, nullptr, 1 / 25.0},  // no clock: its place at 25 a second
      {"2026-12-07T10:00:00Z", nullptr, -3600},  // taken earlier, come later: stays
      {"2026-12-07T12:00:00Z", "night-20261207-12.png", 0},
      {"2026-12-08T11:59:59Z", nullptr, 86399},
      {"2026-12-10T13:00:00Z", "night-20261210-12.png", 0},  // a day without pictures
  };
  scan::Periods periods("night-%Y%m%d-%H.png", "", int64_t{12} * 3600 * 1000000, true);
  for (int64_t k = 0, opened = 0; const auto& p : pictures) {
    SCOPED_TRACE(k);
    const auto clock = p.clock ? scan::parse_iso_time(p.clock) : std::nullopt;
    const std::optional<int64_t> start = periods.opens(clock);
    EXPECT_EQ(start ? periods.output_of(*start) : "", p.opens ? p.opens : "");
    if (start) periods.open(*start, opened = k, k);
    const scan::FrameStamp counted = periods.restamp(scan::FrameStamp{k, 99.0, "x.jpg"}, clock);
    EXPECT_EQ(counted.frame, k++ - opened);
    EXPECT_DOUBLE_EQ(counted.seconds, p.seconds);
  }
}

}  // namespace
