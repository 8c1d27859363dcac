// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/seams.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace window {
namespace {

void qt_message_box(const QString& text, int style, const QString& title) {
  QMessageBox box(style == kStyleCritical ? QMessageBox::Critical : QMessageBox::NoIcon, title,
                  text, QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

// "AVIファイル (*.avi)|*.avi" becomes Qt's "AVIファイル (*.avi)".
QString qt_filter(const QString& filter) {
  const auto parts = filter.split(QLatin1Char('|'));
  if (parts.size() < 2) return filter;
  if (parts[0].contains(parts[1])) return parts[0];
  return parts[0] + QStringLiteral(" (") + parts[1] + QLatin1Char(')');
}

std::optional<QString> qt_open_file(const QString& filter) {
  QWidget* parent = QApplication::activeWindow();
  QString chosen = QFileDialog::getOpenFileName(parent, QString(), QString(), qt_filter(filter));
  // Without a window manager nobody hands the keyboard back to the window after the
  // dialog, and typing into the frames-per-strip box would go nowhere.
  if (parent != nullptr) parent->activateWindow();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen;
}

Seams qt_seams() {
  return Seams{[] { QApplication::beep(); }, qt_message_box, qt_open_file};
}

}  // namespace

Seams& seams() {
  static Seams current = qt_seams();
  return current;
}

void reset_seams() { seams() = qt_seams(); }

void beep() {
  if (const auto& sound = seams().beep) sound();
}

void message_box(const QString& text, int style, const QString& title) {
  if (const auto& box = seams().message_box) box(text, style, title);
}

}  // namespace window
