// SPDX-License-Identifier: GPL-3.0-or-later
// Slits along paths: --line's points, where the samples of a path lie, the parallel lines a
// thickness adds, and paths that move from one strip to the next. Pure arithmetic on the
// picture as shown, pixel centres at whole numbers.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace scan {

// One coordinate as typed: pixels, or a percentage of (size - 1).
struct Coordinate {
  double value = 0;
  bool percent = false;
};

struct Point {
  double x = 0, y = 0;
};
using Path = std::vector<Point>;

// --line's value: a path, or two of the same number of points (P..Q) for a moving one.
struct LineSpec {
  std::vector<Coordinate> from;  // x0, y0, x1, y1, ...
  std::vector<Coordinate> to;    // empty: the line stands still
  std::string text;              // "--line ..." as typed, for messages
  // --roi: the ImageJ selection file whose points `from` takes when the run starts, the
  // selection's line width (0: none read) and its name (OUTPUT's %n).
  std::string roi_file;
  double roi_width = 0;
  std::string name;
};

base::Result<LineSpec, base::Error> parse_line(std::string_view value);

// The points of `coordinates` on a picture of width x height, or why one lies outside.
base::Result<Path, base::Error> place_path(const std::vector<Coordinate>& coordinates, int width,
                                           int height, const std::string& text);

double path_length(const Path& path);
// floor(L) + 1: one sample a pixel along the path, from its first point.
int64_t sample_count(const Path& path);

// A place on a path and the unit normal (dy, -dx) / |d| of the segment it lies on.
struct Sample {
  Point at;
  Point normal;
};
// The places `distances` (along the path, 0 .. its length) away from its first point. A
// place on a corner takes the normal of the segment that starts there.
std::vector<Sample> samples_at(const Path& path, const std::vector<double>& distances);

// `count` distances `step` apart from 0.
std::vector<double> even_distances(int64_t count, double step);

// Each point of `from` moved a fraction t of the way to the same point of `to`.
Path path_between(const Path& from, const Path& to, double t);

// Line j of `thickness` parallel lines one pixel apart: every sample moved
// (j - (thickness - 1) / 2) along its normal.
std::vector<Point> parallel_line(const std::vector<Sample>& samples, int64_t thickness, int64_t j);

// The line (column or row) a --slit POS names in a picture of `size` lines: POS itself, or
// a percentage of size - 1 as a --line coordinate is, rounded half up, so that 0% and 100%
// are the first and the last line. Anything past the picture gives -1 or `size`.
int64_t slit_line(bool percent, int64_t position, double fraction, int64_t size);

// Whether a slit `width` lines wide from line `first` fits a picture of `size` lines
// (`lines` names them: "columns" or "rows"); else the message, `what` first.
[[nodiscard]] base::Result<void, base::Error> slit_fits(const std::string& what, int64_t first,
                                                        int64_t width, int64_t size,
                                                        const char* lines);

// Where a moving slit stands at strip k of n: A + (B - A) k / (n - 1), rounded half up.
int64_t moving_position(int64_t a, int64_t b, int64_t k, int64_t n);

}  // namespace scan
