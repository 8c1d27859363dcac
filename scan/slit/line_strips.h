// SPDX-License-Identifier: GPL-3.0-or-later
// Strips cut along lines: --line's paths (still or moving, thick or not), and --slit's
// columns or rows when they move or are reduced to one. Each strip's lines are sampled on
// the picture as shown, mapped to the stored picture, and laid out as one strip: a column
// per line (strips left to right) or a row per line (strips top to bottom).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "decode/display_orientation.h"
#include "scan/slit/line_sampler.h"
#include "scan/slit/oriented_strip.h"
#include "scan/slit/slit_request.h"

namespace scan {

class LineStrips {
 public:
  // For pictures stored as width x height and shown turned by `orientation`, `strips`
  // strips of `pixel_bytes` pixels (strips/pixel_kind.h); the message (wrong usage) when a
  // line or slit does not fit the picture shown.
  static base::Result<std::unique_ptr<LineStrips>, base::Error> make(
      const SlitRequest& o, int width, int height, decode::Orientation orientation, int64_t strips,
      int pixel_bytes);

  int64_t samples() const { return samples_; }  // along each line
  int64_t lines() const { return laid_; }       // laid per strip

  // Strip k of `frame`, or why libswscale could not convert it.
  Converted strip(const AVFrame* frame, int64_t k);

  // The stored area that holds every pixel any strip's samples are interpolated from.
  Rect stored_bounds() const;

  // The lines of strip k on the picture as shown, one vector of places per line.
  std::vector<std::vector<Point>> shown_lines(int64_t k) const;

 private:
  LineStrips(const SlitRequest& o, int width, int height, decode::Orientation orientation,
             int64_t strips, int pixel_bytes);
  base::Result<void, base::Error> place(const SlitRequest& o);

  // Geometry, on the picture as shown.
  int shown_width_ = 0, shown_height_ = 0;
  int64_t strips_ = 1;
  int64_t thickness_ = 1;
  Path from_, to_;         // --line; to_ empty when it stands still
  double from_length_ = 0;
  bool slit_ = false;      // --slit's columns (rows when `rows_`)
  bool rows_ = false;
  int64_t slit_from_ = 0, slit_to_ = 0;
  std::vector<std::vector<Point>> still_;  // the stored places of a line that stands still

  // Sampling and laying.
  int width_ = 0, height_ = 0;  // stored
  StoredWalk walk_;
  Reducer reducer_ = Reducer::copy;
  bool down_ = false;
  int64_t samples_ = 0, laid_ = 1;
  int pixel_bytes_ = 3;
  LineSampler sampler_;
  std::vector<Point> places_;
  std::vector<uint8_t> sampled_, out_;
};

}  // namespace scan
