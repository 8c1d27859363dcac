// SPDX-License-Identifier: GPL-3.0-or-later
// One slit as asked for, before any picture is seen: a band of columns (rows), still or
// moving, or a path; how its lines are combined; which way time runs. The command line
// and the library fill it in; the cutters read nothing else.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "scan/slit/reduce.h"
#include "scan/slit/slit_path.h"
#include "strips/strip_lines.h"

namespace scan {

// The slit's first line, in pixels or as a percentage of the frame, and its width.
struct SlitSpec {
  bool given = false;
  bool percent = false;
  int64_t position = 0;
  double fraction = 0;  // percent / 100
  int64_t width = 1;
  std::string text;
  // --slit A..B[:WIDTH]: the first line moves from position (fraction) to these.
  bool moving = false;
  bool end_percent = false;
  int64_t end_position = 0;
  double end_fraction = 0;
};

struct SlitRequest {
  strips::Cut cut = strips::Cut::vertical;
  SlitSpec slit;
  std::optional<LineSpec> line;  // a path instead of the band of columns (rows)
  int64_t thickness = 1;
  Reducer reduce = Reducer::copy;
  bool time_down = false;  // strips are rows, laid top to bottom
};

// Whether the strips come from LineStrips rather than a plain crop.
bool runs_on_lines(const SlitRequest& r);

// The request with the cut and the strip's width (in lines) its lines give; LineStrips is
// made from this.
SlitRequest with_line_layout(SlitRequest r);

}  // namespace scan
