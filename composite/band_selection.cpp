// SPDX-License-Identifier: GPL-3.0-or-later
#include "composite/band_selection.h"

#include <QString>
#include <cmath>
#include <cstdint>
#include <utility>

#include "window/form1.h"

namespace composite {
namespace {

// A press position rounded down, held to what a 16-bit bound can take.
int16_t bound_at(double position) {
  if (std::isnan(position)) return 0;
  const double down = std::floor(position);
  if (down <= INT16_MIN) return INT16_MIN;
  if (down >= INT16_MAX) return INT16_MAX;
  return static_cast<int16_t>(down);
}

// Marker line across a strip at one bound: a column of Picture4 or a row of Picture5.
using DrawMarker = void (*)(window::PictureBox& strip, int16_t at);

void column_marker(window::PictureBox& strip, int16_t at) {
  strip.draw_inverted_line(at, 0, at, strip.height());
}

void row_marker(window::PictureBox& strip, int16_t at) {
  strip.draw_inverted_line(0, at, strip.width(), at);
}

// A new band restarts the composite; a snapshot restored as background shows again.
void restart_composite(window::Form1& form) {
  if (form.state.screen_count == 0) return;
  form.state.screen_count = 0;
  form.Picture3->clear();
}

void press(window::Form1& form, window::PictureBox& strip, DrawMarker marker, int16_t& first,
           int16_t& last, double position) {
  restart_composite(form);
  auto& click_state = form.state.click_state;
  if (click_state == window::kBandPicked) {
    // Drawing the old lines again takes them off the strip.
    marker(strip, first);
    marker(strip, last);
    click_state = window::kNoBound;
  }
  if (click_state == window::kNoBound) {
    first = bound_at(position);
    marker(strip, first);
    click_state = window::kFirstBound;
    return;
  }
  last = bound_at(position);
  marker(strip, last);
  click_state = window::kBandPicked;
  if (last < first) std::swap(first, last);
  if (int{last} - int{first} <= 2) form.show_message(narrow_band_message());
}

}  // namespace

QString narrow_band_message() { return QStringLiteral("もう一度、マウスでクリックしてください。"); }

void Picture4_MouseDown(window::Form1& form, double x) {
  press(form, *form.Picture4, column_marker, form.state.cut_x1, form.state.cut_x2, x);
}

void Picture5_MouseDown(window::Form1& form, double y) {
  press(form, *form.Picture5, row_marker, form.state.cut_y1, form.state.cut_y2, y);
}

}  // namespace composite
