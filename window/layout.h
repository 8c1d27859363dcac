// SPDX-License-Identifier: GPL-3.0-or-later
// A window's controls as data: each edition hands its own table to Form1.
#pragma once
#include <QColor>
#include <QString>
#include <optional>
#include <vector>

namespace window {

// A control the tables can place; window/form1.h lists them with their classes and roles.
enum class Control;

// Geometry in twips (1/1440 inch, 15 to the pixel), the unit the window was drawn in,
// relative to the client area, or to Frame1 for the options. Tab is the position in the
// focus order.
struct ControlSpec {
  Control control;
  QString caption;
  int left, top, width, height;
  int tab;
  std::optional<QColor> background;
  std::optional<double> font_points;  // the Japanese Gothic face at this size
};

struct Layout {
  QString caption;    // the window's title bar
  QString app_title;  // the title of every message box
  int client_width;   // twips
  int client_height;  // twips
  // Start-up gives the window its outer size and centres it on the screen.
  bool sizes_and_centres;
  std::vector<ControlSpec> controls;  // created in this order: Frame1 before its options
};

inline constexpr int kTwipsPerPixel = 15;

}  // namespace window
