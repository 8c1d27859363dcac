// SPDX-License-Identifier: GPL-3.0-or-later
// What tests replace: the beep, message boxes and the file-open dialog.
// In the programs they are Qt's beep, QMessageBox and QFileDialog.
#pragma once
#include <QString>
#include <functional>
#include <optional>

namespace window {

// Message-box styles as the handlers name them: OK only, with or without the stop icon.
inline constexpr int kStyleOkOnly = 0;
inline constexpr int kStyleCritical = 16;

struct Seams {
  std::function<void()> beep;
  std::function<void(const QString& text, int style, const QString& title)> message_box;
  // `filter` is "description|pattern"; nothing when the user cancels.
  std::function<std::optional<QString>(const QString& filter)> open_file;
};

Seams& seams();
// Puts the Qt implementations back.
void reset_seams();

// What the handlers call; each does nothing while a test has emptied its seam.
void beep();
void message_box(const QString& text, int style, const QString& title);

}  // namespace window
