// SPDX-License-Identifier: GPL-3.0-or-later
// The long view: nightly streak images (each with its CSV timeline beside it) laid as bands
// of one image, one night a band in date order, each squeezed to a fixed number of bins
// across the time of day.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"
#include "scan/scan.h"

namespace scan {

// A span of the time of day, in microseconds from midnight: from `start` for `length`
// (a window past midnight runs on into the next day).
struct DayWindow {
  int64_t start = 0;
  int64_t length = 0;
};

// The bin (0 to bins - 1) of a strip taken at `civil` (a WallTime's civil_micros), and the
// date (days from 1970-01-01) of the window it falls in; bin -1 when outside. A given
// window is closed at its start and open at its end; one found from the strips is closed
// at both, so that its last strip is laid.
struct BinPlace {
  int64_t bin = -1;
  int64_t day = 0;
};
BinPlace bin_of(int64_t civil, const DayWindow& window, int64_t bins, bool closed_end);

// The shortest span of the day's circle that holds every time of day in `times_of_day`
// (microseconds from midnight): it starts after the longest stretch with none.
DayWindow window_around(std::vector<int64_t> times_of_day);

// Writes the long view `request` asks for (request.nights).
[[nodiscard]] base::Result<void, Error> run_nights(const Request& request, Reporter& reporter,
                                                   const Stopping& stopping);

}  // namespace scan
