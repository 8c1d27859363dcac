// SPDX-License-Identifier: GPL-3.0-or-later
// What a run will make, worked out once before any picture is decoded, from the request and
// what the source says of itself when opened: where the slit lies on the stored picture (or
// the lines it is sampled along), which frames are read and which frame each strip shows,
// the times of the strips, the image's size and its band of time marks. No I/O here; tests
// call it directly.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "base/result.h"
#include "base/should_stop.h"
#include "decode/display_orientation.h"
#include "scan/input/frame_rules.h"
#include "scan/input/frame_source.h"
#include "scan/options.h"
#include "scan/output/output_file.h"
#include "scan/output/strip_image.h"
#include "scan/output/tiff_output.h"
#include "scan/scan.h"
#include "scan/slit/line_strips.h"
#include "scan/slit/oriented_strip.h"
#include "scan/slit/slit_scaler.h"
#include "scan/time/strip_times.h"
#include "scan/time/timeline.h"

namespace scan {

// What a source says of itself when opened.
struct SourceHeader {
  int width = 0, height = 0;  // stored
  bool deep = false;          // more than 8 bits a component
  decode::Orientation orientation;  // how pictures are shown (upright with --no-rotate)
  bool length_known = true;
  const ScanFrames* frames = nullptr;
  int pixel_bytes = 3;        // of the image made (strips/pixel_kind.h)
};

// What the plan may not outgrow.
struct PlanLimits {
  Format format = Format::png;  // OUTPUT's, for its side limit
  int64_t memory = -1;          // bytes at hand, asked for --bin only; -1: not known
};

// Where the slit lies, on the picture as shown and as stored.
struct SlitPlace {
  int shown_width = 0, shown_height = 0;
  Rect slit;                 // on the stored picture; unused when the strips come from lines
  int64_t shown_slit = 0;    // its first column (row) on the picture as shown
  std::optional<OrientedSlit> oriented;  // pictures shown turned or mirrored
};

struct Plan {
  SlitPlace place;
  std::unique_ptr<LineStrips> lines;  // strips along lines instead of a crop
  FrameChoice choice;  // the frames read
  int64_t strips = 0;  // INT64_MAX when the input's length is not known
  // The frame of every strip (-1: a --bin gap) and their records, when --bin, --timeline
  // or --ticks need them.
  StripFrames strip_frames;
  std::vector<StripRecord> records;
  // The whole image with its band, or one strip when the image grows (growing).
  ImageSize size;
  int64_t band = 0;  // rows (a vertical cut) or columns of the --ticks band
  bool growing = false;  // an input of unknown length, --flush, or strips handed out
  Rect read_area;        // what each stored picture is read for
};

// The first half of the plan, what the header alone tells: the slit's place, or a usage
// error when it does not fit the picture as shown or the request cannot be met on such an
// input. `handed_out`: no image is made, each strip is handed on.
[[nodiscard]] base::Result<SlitPlace, Error> place_slit(const Request& o,
                                                        const SourceHeader& source,
                                                        bool handed_out);

// The rest of the plan, `times` being the input's (when --bin, --timeline, --ticks or a
// time on an image sequence needs them). Fails with ExitStatus::interrupted (no signal) when `stop` asks.
[[nodiscard]] base::Result<Plan, Error> plan_run(const Request& o, const SourceHeader& source,
                                                 SlitPlace place, const FrameTimes* times,
                                                 bool handed_out, const PlanLimits& limits,
                                                 const base::ShouldStop& stop = {});

}  // namespace scan
