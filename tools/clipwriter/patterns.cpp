// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/clipwriter/patterns.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace clipwriter {
namespace {

constexpr uint32_t background = 0xf0ece0;
constexpr uint32_t ball_colour = 0xc03020;
constexpr uint32_t rod_colour = 0x404040;
constexpr uint32_t far_end_colour = 0x2040c0;

bool inside_circle(double x, double y, double cx, double cy, double r) {
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
}

// Distance from (x, y) to the segment (ax, ay)-(bx, by).
double segment_distance(double x, double y, double ax, double ay, double bx, double by) {
  double dx = bx - ax, dy = by - ay;
  double len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? std::clamp(((x - ax) * dx + (y - ay) * dy) / len2, 0.0, 1.0) : 0.0;
  double px = ax + t * dx - x, py = ay + t * dy - y;
  return std::sqrt(px * px + py * py);
}

}  // namespace

Painter ball_pattern(int width, int height, int frames) {
  double radius = std::max(2.0, std::min(width, height) / 8.0);
  double span = width + 2 * radius;
  int last = std::max(1, frames - 1);
  return [=](int frame, int x, int y) -> uint32_t {
    double cx = -radius + span * frame / last;
    double cy = height / 2.0 + height / 4.0 * std::sin(2 * std::numbers::pi * frame / last);
    return inside_circle(x + 0.5, y + 0.5, cx, cy, radius) ? ball_colour : background;
  };
}

Painter pendulum_pattern(int width, int height, int frames) {
  double pivot_x = width / 2.0, pivot_y = 0;
  double rod = height * 0.75;
  double radius = std::max(2.0, std::min(width, height) / 12.0);
  double swings = std::max(1.0, frames / 60.0);
  int last = std::max(1, frames - 1);
  return [=](int frame, int x, int y) -> uint32_t {
    double angle = 0.8 * std::cos(2 * std::numbers::pi * swings * frame / last);
    double bob_x = pivot_x + rod * std::sin(angle), bob_y = pivot_y + rod * std::cos(angle);
    if (inside_circle(x + 0.5, y + 0.5, bob_x, bob_y, radius)) return ball_colour;
    if (segment_distance(x + 0.5, y + 0.5, pivot_x, pivot_y, bob_x, bob_y) <= 1.0)
      return rod_colour;
    return background;
  };
}

Painter rotor_pattern(int width, int height, int frames) {
  double cx = width / 2.0, cy = height / 2.0;
  double arm = std::min(width, height) * 0.42;
  double radius = std::max(2.0, std::min(width, height) / 14.0);
  double half_width = std::max(1.0, std::min(width, height) / 80.0);
  double turns = std::max(1.0, frames / 90.0);
  int last = std::max(1, frames - 1);
  return [=](int frame, int x, int y) -> uint32_t {
    double angle = 2 * std::numbers::pi * turns * frame / last;
    double ax = cx + arm * std::cos(angle), ay = cy + arm * std::sin(angle);
    double bx = cx - arm * std::cos(angle), by = cy - arm * std::sin(angle);
    double px = x + 0.5, py = y + 0.5;
    if (inside_circle(px, py, ax, ay, radius)) return ball_colour;
    if (inside_circle(px, py, bx, by, radius)) return far_end_colour;
    if (segment_distance(px, py, ax, ay, bx, by) <= half_width) return rod_colour;
    return background;
  };
}

}  // namespace clipwriter
