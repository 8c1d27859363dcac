// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/slit/slit_path.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/text.h"

namespace scan {
namespace {

// A plain decimal (12, 12.5) or a percentage (12.5%), nothing else.
bool parse_coordinate(std::string_view text, Coordinate& c) {
  c.percent = text.ends_with('%');
  if (c.percent) text.remove_suffix(1);
  const std::optional<double> value = base::plain_decimal(text);
  if (value) c.value = *value;
  return value.has_value();
}

base::Result<std::vector<Coordinate>, base::Error> parse_points(std::string_view text,
                                                                const std::string& what) {
  std::vector<Coordinate> coordinates;
  for (;;) {
    const size_t comma = text.find(',');
    Coordinate c;
    if (!parse_coordinate(text.substr(0, comma), c))
      return base::usage(what + ": \"" + std::string(text.substr(0, comma)) +
                         "\" is not a coordinate such as 12, 12.5 or 25%");
    coordinates.push_back(c);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (coordinates.size() % 2 != 0)
    return base::usage(what + ": an odd number of coordinates; give X,Y pairs");
  if (coordinates.size() < 4) return base::usage(what + ": a path needs two points at least");
  return coordinates;
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace

base::Result<LineSpec, base::Error> parse_line(std::string_view value) {
  LineSpec spec;
  spec.text = "--line " + std::string(value);
  const size_t dots = value.find("..");
  auto from = parse_points(value.substr(0, dots), spec.text);
  if (!from) return base::failure(from.error());
  spec.from = std::move(*from);
  if (dots == std::string_view::npos) return spec;
  auto to = parse_points(value.substr(dots + 2), spec.text);
  if (!to) return base::failure(to.error());
  spec.to = std::move(*to);
  if (spec.to.size() != spec.from.size())
    return base::usage(spec.text + ": the paths before and after .. have " +
                       std::to_string(spec.from.size() / 2) + " and " +
                       std::to_string(spec.to.size() / 2) + " points; give the same number");
  return spec;
}

base::Result<Path, base::Error> place_path(const std::vector<Coordinate>& coordinates, int width,
                                           int height, const std::string& text) {
  Path path;
  for (size_t i = 0; i + 1 < coordinates.size(); i += 2) {
    const Coordinate& cx = coordinates[i];
    const Coordinate& cy = coordinates[i + 1];
    const Point p{cx.percent ? (width - 1) * cx.value / 100 : cx.value,
                  cy.percent ? (height - 1) * cy.value / 100 : cy.value};
    if (p.x > width - 1 || p.y > height - 1)
      return base::usage(text + ": point " + std::to_string(i / 2 + 1) + " (" + number(p.x) +
                         ", " + number(p.y) + ") lies outside the frame (" +
                         std::to_string(width) + " x " + std::to_string(height) + ", 0,0 to " +
                         std::to_string(width - 1) + "," + std::to_string(height - 1) + ")");
    path.push_back(p);
  }
  return path;
}

double path_length(const Path& path) {
  double length = 0;
  for (size_t i = 1; i < path.size(); ++i)
    length += std::hypot(path[i].x - path[i - 1].x, path[i].y - path[i - 1].y);
  return length;
}

int64_t sample_count(const Path& path) {
  // A length such as 5 reached through rounding as 4.9999999 still holds 6 samples.
  return static_cast<int64_t>(std::floor(path_length(path) + 1e-9)) + 1;
}

std::vector<Sample> samples_at(const Path& path, const std::vector<double>& distances) {
  std::vector<double> starts{0};  // distance of each point from the first
  for (size_t i = 1; i < path.size(); ++i)
    starts.push_back(starts.back() +
                     std::hypot(path[i].x - path[i - 1].x, path[i].y - path[i - 1].y));
  std::vector<Sample> samples;
  samples.reserve(distances.size());
  size_t segment = 0;
  for (double d : distances) {
    // Distances come in order; segments of no length are passed over.
    while (segment + 2 < path.size() && d >= starts[segment + 1] - 1e-9) ++segment;
    while (segment > 0 && d < starts[segment] - 1e-9) --segment;
    const Point& a = path[segment];
    const Point& b = path[segment + 1];
    const double length = starts[segment + 1] - starts[segment];
    Sample s;
    if (length <= 0) {
      s.at = a;
    } else {
      const double t = std::clamp((d - starts[segment]) / length, 0.0, 1.0);
      s.at = {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
      s.normal = {(b.y - a.y) / length, -(b.x - a.x) / length};
    }
    samples.push_back(s);
  }
  return samples;
}

std::vector<double> even_distances(int64_t count, double step) {
  std::vector<double> distances(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) distances[static_cast<size_t>(i)] = i * step;
  return distances;
}

Path path_between(const Path& from, const Path& to, double t) {
  Path path(from.size());
  for (size_t i = 0; i < from.size(); ++i)
    path[i] = {from[i].x + (to[i].x - from[i].x) * t, from[i].y + (to[i].y - from[i].y) * t};
  return path;
}

std::vector<Point> parallel_line(const std::vector<Sample>& samples, int64_t thickness,
                                 int64_t j) {
  const double offset = j - (thickness - 1) / 2.0;
  std::vector<Point> line;
  line.reserve(samples.size());
  for (const Sample& s : samples)
    line.push_back({s.at.x + offset * s.normal.x, s.at.y + offset * s.normal.y});
  return line;
}

int64_t slit_line(bool percent, int64_t position, double fraction, int64_t size) {
  if (!percent) return position;
  const double line = std::floor(fraction * static_cast<double>(size - 1) + 0.5);
  if (!(line >= 0)) return -1;  // NaN too
  return line < static_cast<double>(size) ? static_cast<int64_t>(line) : size;
}

base::Result<void, base::Error> slit_fits(const std::string& what, int64_t first,
                                          int64_t width, int64_t size, const char* lines) {
  if (first < 0 || first >= size)
    return base::usage(what + ": outside the frame (" + std::to_string(size) + " " + lines +
                       ", 0 to " + std::to_string(size - 1) + ")");
  if (width > size - first)
    return base::usage(what + ": the slit reaches past the frame (" + std::to_string(size) +
                       " " + lines + ")");
  return {};
}

int64_t moving_position(int64_t a, int64_t b, int64_t k, int64_t n) {
  if (n <= 1) return a;
  // Exact in integers: floor(a + (b - a) k / (n - 1) + 1/2).
  const int64_t num = 2 * (b - a) * k + (n - 1);
  const int64_t den = 2 * (n - 1);
  const int64_t q = num / den - ((num % den != 0) && (num < 0) ? 1 : 0);
  return a + q;
}

}  // namespace scan
