// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/fonts.h"

#include <QApplication>
#include <QStringList>

namespace window {
namespace {

const QString kLabelFace = QStringLiteral("ＭＳ Ｐゴシック");
const QString kStandIn = QStringLiteral("IPAPGothic");

}  // namespace

QFont label_font(double points) {
  // Also for fonts built elsewhere by family name alone.
  QFont::insertSubstitution(kLabelFace, kStandIn);
  QFont font;
  font.setFamilies({kLabelFace, kStandIn});
  font.setPointSizeF(points);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

QFont ui_font() {
  QFont font = QApplication::font();
  QStringList families = font.families();
  if (families.isEmpty()) families << font.family();
  if (!families.contains(kStandIn)) families << kStandIn;
  font.setFamilies(families);
  return font;
}

}  // namespace window
