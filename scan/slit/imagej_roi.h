// SPDX-License-Identifier: GPL-3.0-or-later
// An ImageJ selection file (.roi) read as a slit's path: straight lines, segmented lines
// and freehand lines (as the polyline of their points). ImageJ puts a line selection's
// whole-number coordinates at pixel centres, as velmora-scan's paths do, so the points are
// taken as stored.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "scan/slit/slit_path.h"

namespace scan {

struct RoiLine {
  Path path;
  double width = 1;  // the line's width in pixels as drawn (0 and 1: one pixel)
  std::string name;  // the selection's own name, when it has one (ASCII kept, others '_')
};

// The selection in `bytes`, or why it is not a line velmora-scan takes (another kind,
// named; damaged).
[[nodiscard]] base::Result<RoiLine, base::Error> parse_imagej_roi(std::span<const uint8_t> bytes);

// Every selection of a RoiSet.zip (ImageJ's ROI Manager saves one), in the archive's order,
// each named by its own name or else by its file's name without ".roi"; or why the archive
// or one of its selections is not taken (the entry named).
[[nodiscard]] base::Result<std::vector<RoiLine>, base::Error> parse_roi_set(
    std::span<const uint8_t> zip);

}  // namespace scan
