// SPDX-License-Identifier: GPL-3.0-or-later
#include "composite/frames_per_strip.h"

#include <QLocale>
#include <QRegularExpression>
#include <cmath>
#include <limits>

namespace composite {

std::optional<int16_t> frames_per_strip(const QString& text) {
  // Full-width forms, as a Japanese input method types them, become their ASCII forms.
  const QString plain = text.normalized(QString::NormalizationForm_KC).trimmed();
  static const QRegularExpression kNumber(
      QStringLiteral(R"(\A[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?\z)"));
  if (!kNumber.match(plain).hasMatch()) return std::nullopt;
  // The C locale: the decimal point is "." whatever the user's locale says.
  bool ok = false;
  const double value = QLocale::c().toDouble(plain, &ok);
  if (!ok || !std::isfinite(value)) return std::nullopt;
  const double rounded = std::nearbyint(value);  // the default mode rounds halves to even
  if (rounded < std::numeric_limits<int16_t>::min() ||
      rounded > std::numeric_limits<int16_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int16_t>(rounded);
}

QString frames_per_strip_message() {
  return QStringLiteral("送りコマ数には -32768 から 32767 までの数を入れてください。");
}

}  // namespace composite
