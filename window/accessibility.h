// SPDX-License-Identifier: GPL-3.0-or-later
// What screen readers call the window's controls.
#pragma once
#include <QString>

class QWidget;

namespace window {

// Gives `control` its accessible name and description; empty ones leave Qt's own (a
// button's caption, say). A label stays named by the text it shows, and `name` names it
// only while it shows nothing, so that a reader never meets it unnamed.
void name_for_screen_readers(QWidget& control, const QString& name, const QString& description);

}  // namespace window
