// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QVariant>

namespace window {
namespace {

// The label's name while it shows no text; not its accessible name, which would hide the
// text from readers and keep Qt from telling them when the text changes.
constexpr char kNameWhileEmpty[] = "velmora_name_while_empty";

class LabelNamedWhileEmpty : public QAccessibleWidget {
 public:
  explicit LabelNamedWhileEmpty(QLabel* label)
      : QAccessibleWidget(label, QAccessible::StaticText) {}

  QString text(QAccessible::Text kind) const override {
    QString text = QAccessibleWidget::text(kind);
    if (kind != QAccessible::Name || !text.isEmpty()) return text;
    text = static_cast<const QLabel*>(widget())->text();
    if (text.isEmpty()) text = widget()->property(kNameWhileEmpty).toString();
    return text;
  }
};

QAccessibleInterface* label_interface(const QString& class_name, QObject* object) {
  if (class_name != QLatin1String("QLabel") || !object->property(kNameWhileEmpty).isValid())
    return nullptr;
  return new LabelNamedWhileEmpty(static_cast<QLabel*>(object));
}

}  // namespace

void name_for_screen_readers(QWidget& control, const QString& name, const QString& description) {
  if (!description.isEmpty()) control.setAccessibleDescription(description);
  if (name.isEmpty()) return;
  if (qobject_cast<QLabel*>(&control) == nullptr) {
    control.setAccessibleName(name);
    return;
  }
  // Qt asks the factories installed last first, so this one comes before its own labels'.
  static const bool installed = [] {
    QAccessible::installFactory(label_interface);
    return true;
  }();
  (void)installed;
  control.setProperty(kNameWhileEmpty, name);
}

}  // namespace window
