// SPDX-License-Identifier: GPL-3.0-or-later
// Captions whose line breaks are written as LF CR (the position display's), CR LF, LF or
// CR alone.
#pragma once
#include <QString>

class QLabel;

namespace window {

// The caption as a label shows it: a break written as LF CR, CR LF, LF or CR alone is one
// line break.
QString displayed_caption(const QString& caption);
// Shows `caption` on `label` with its line breaks made plain.
void set_caption(QLabel& label, const QString& caption);

}  // namespace window
