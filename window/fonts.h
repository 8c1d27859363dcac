// SPDX-License-Identifier: GPL-3.0-or-later
// Fonts that show Japanese captions on any machine: the labels' own face, ＭＳ Ｐゴシック,
// where it is installed, a Japanese proportional Gothic where it is not.
#pragma once
#include <QFont>

namespace window {

// The labels' face at `points`, regular weight.
QFont label_font(double points);
// The toolkit's default font, with the Japanese Gothic behind it for glyphs it lacks.
QFont ui_font();

}  // namespace window
