// SPDX-License-Identifier: GPL-3.0-or-later
// Return and keypad Enter on the control with the keyboard focus: a push button is pressed,
// as by Space; the option buttons, the frame-count box and the scroll bar press nothing.
#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>

#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

class EnterKey : public ::testing::TestWithParam<Edition> {};

VELMORA_FOR_BOTH_EDITIONS(EnterKey);

TEST_P(EnterKey, PressesTheFocusedPushButtonAndNothingElse) {
  // The window alone, every control on: what a key does here is the window's, no handler's.
  window::Form1 form(GetParam().layout());
  form.startup();
  form.cmd_enabled(true, true);
  for (QWidget* control : form.findChildren<QWidget*>()) control->setEnabled(true);
  form.show();
  form.activateWindow();
  ASSERT_TRUE(wait_until([&] { return form.isActiveWindow(); }));

  // Every reaction of any control, by its name.
  QStringList reactions;
  for (auto* button : form.findChildren<QAbstractButton*>())
    QObject::connect(button, &QAbstractButton::clicked,
                     [&reactions, button] { reactions << button->objectName(); });
  for (auto* bar : form.findChildren<QScrollBar*>())
    QObject::connect(bar, &QScrollBar::valueChanged,
                     [&reactions, bar] { reactions << bar->objectName(); });
  for (auto* box : form.findChildren<QLineEdit*>())
    QObject::connect(box, &QLineEdit::textChanged,
                     [&reactions, box] { reactions << box->objectName(); });

  int tried = 0;
  for (QWidget* control : form.findChildren<QWidget*>()) {
    if (control->focusPolicy() == Qt::NoFocus || control->objectName().isEmpty()) continue;
    control->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), control) << control->objectName().toStdString();
    reactions.clear();
    for (auto [key, modifiers] : {std::pair{Qt::Key_Return, Qt::NoModifier},
                                  std::pair{Qt::Key_Enter, Qt::KeypadModifier}}) {
      for (auto type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent event(type, key, modifiers, QStringLiteral("\r"));
        QCoreApplication::sendEvent(control, &event);
      }
    }
    const QString name = control->objectName();
    const QStringList expected =
        qobject_cast<QPushButton*>(control) ? QStringList{name, name} : QStringList{};
    EXPECT_EQ(reactions.join(' ').toStdString(), expected.join(' ').toStdString())
        << name.toStdString();
    ++tried;
  }
  // Buttons, options, the scroll bar and (in velmora6) the frame-count box.
  EXPECT_GE(tried, GetParam().title == "velmora6" ? 13 : 10);
}

}  // namespace
}  // namespace velmora_test
