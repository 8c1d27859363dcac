// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/captions.h"

#include <QLabel>

namespace window {

QString displayed_caption(const QString& caption) {
  QString shown;
  shown.reserve(caption.size());
  for (qsizetype i = 0; i < caption.size(); ++i) {
    const QChar c = caption[i];
    if (c != QChar('\n') && c != QChar('\r')) {
      shown += c;
      continue;
    }
    shown += QChar('\n');
    // The other half of a two-character break belongs to the same break.
    const bool pair = i + 1 < caption.size() &&
                      (caption[i + 1] == QChar('\n') || caption[i + 1] == QChar('\r')) &&
                      caption[i + 1] != c;
    if (pair) ++i;
  }
  return shown;
}

void set_caption(QLabel& label, const QString& caption) {
  label.setTextFormat(Qt::PlainText);
  label.setText(displayed_caption(caption));
}

}  // namespace window
