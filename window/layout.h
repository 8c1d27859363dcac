// A window's controls as data: each edition hands its own table to Form1.
#pragma once
#include <QColor>
#include <QString>
#include <optional>
#include <vector>

namespace window {

enum class ControlKind { text_box, button, frame, option, picture, scroll_bar, label };

// Geometry in twips (15 per pixel), relative to the client area, or to Frame1 for the
// options. Tab is the position in the focus order.
struct ControlSpec {
  QString name;
  ControlKind kind;
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
  std::vector<ControlSpec> controls;  // in the order the window stores them
};

inline constexpr int kTwipsPerPixel = 15;

}  // namespace window
