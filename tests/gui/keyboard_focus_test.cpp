// SPDX-License-Identifier: GPL-3.0-or-later
// Where the keyboard focus goes when the program disables the control that holds it: to
// no control, never on to the next one (the exit button, say), and back when it returns.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>

#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

class KeyboardFocus : public EditionWindow {
 protected:
  void SetUp() override {
    EditionWindow::SetUp();
    form->show();
    form->activateWindow();
    ASSERT_TRUE(wait_until([&] { return form->isActiveWindow(); }, 3000));
  }

  void open_and_play() {
    open_quietly(pane_sized_clip());
    form->Command1->click();
  }

  // Two presses on the visible pick strip, as the mouse makes them.
  void pick_band(int first, int last) {
    for (int x : {first, last}) {
      QMouseEvent press(QEvent::MouseButtonPress, QPointF(x, 5),
                        form->Picture4->mapToGlobal(QPointF(x, 5)), Qt::LeftButton, Qt::LeftButton,
                        Qt::NoModifier);
      QCoreApplication::sendEvent(form->Picture4, &press);
    }
  }

  // Presses Space where the keyboard focus is, as the user would.
  void press_space() {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : form.get();
    for (auto type : {QEvent::KeyPress, QEvent::KeyRelease}) {
      QKeyEvent key(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
      QCoreApplication::sendEvent(target, &key);
    }
  }

  QWidget* focus() const { return QApplication::focusWidget(); }
};

VELMORA_FOR_BOTH_EDITIONS(KeyboardFocus);

TEST_P(KeyboardFocus, BuildButtonGetsTheFocusBackWhenItComesOnAgain) {
  open_and_play();
  form->CmdGosei->setFocus();
  QWidget* focus_during_message = form->CmdGosei;
  window::seams().message_box = [&](const QString& text, int, const QString&) {
    messages.push_back({text, 0, QString()});
    focus_during_message = focus();
  };
  press_space();  // no band yet: the message, and the button comes on again
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(focus_during_message, nullptr) << "the focus went on while the button was off";
  EXPECT_EQ(focus(), form->CmdGosei);
  press_space();  // a second press is the same button's again
  EXPECT_EQ(messages.size(), 2u);
}

TEST_P(KeyboardFocus, SpaceAfterABuildNeitherEndsNorPressesAnything) {
  use_quick_ticks();
  open_and_play();
  form->Command2->click();
  pick_band(100, 180);
  form->CmdGosei->setFocus();
  press_space();
  if (edition().title == "velmora6") {
    // The run filled the composite and leaves the button off.
    EXPECT_FALSE(form->CmdGosei->isEnabled());
    EXPECT_EQ(focus(), nullptr);
  } else {
    EXPECT_EQ(focus(), form->CmdGosei);
  }
  forget();
  press_space();
  // (Reaching here means the program did not end.)
  if (edition().title == "velmora6") {
    EXPECT_TRUE(sent.empty());
  }
}

TEST_P(KeyboardFocus, OpeningAClipLeavesTheFocusOnNoControl) {
  open_and_play();
  for (QWidget* control : std::vector<QWidget*>{form->Command3, form->CmdGosei, form->HScroll1}) {
    control->setFocus();
    ASSERT_EQ(focus(), control);
    open_quietly(pane_sized_clip());  // switches the transport and the build button off
    EXPECT_EQ(focus(), nullptr) << control->objectName().toStdString();
    form->Command1->click();  // play: back on, and so is the focus
    EXPECT_EQ(focus(), control) << control->objectName().toStdString();
  }
}

TEST_P(KeyboardFocus, TheFocusStaysWhereTheUserPutItMeanwhile) {
  open_and_play();
  form->Command3->setFocus();
  open_quietly(pane_sized_clip());
  form->Option2->setFocus();  // the user tabs on
  form->Command1->click();
  EXPECT_EQ(focus(), form->Option2);
}

}  // namespace
}  // namespace velmora_test
