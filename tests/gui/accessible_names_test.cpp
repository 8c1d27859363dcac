// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader finds through Qt's accessibility interface: every control named,
// the pick strips described, the frame-count box labelled by its caption, and a label
// named by the text it shows once it shows one.
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>

#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

class AccessibleNames : public EditionWindow {
 protected:
  QAccessibleInterface* accessible(QWidget* control) {
    QAccessibleInterface* found = QAccessible::queryAccessibleInterface(control);
    EXPECT_NE(found, nullptr) << control->objectName().toStdString();
    return found;
  }

  QString name_of(QWidget* control) {
    QAccessibleInterface* found = accessible(control);
    return found == nullptr ? QString() : found->text(QAccessible::Name);
  }

  // Every control of the edition's table, by its object name.
  std::vector<QWidget*> controls() {
    std::vector<QWidget*> all;
    for (const auto& spec : form->layout().controls)
      all.push_back(form->findChild<QWidget*>(window::control_name(spec.control)));
    return all;
  }
};

VELMORA_FOR_BOTH_EDITIONS(AccessibleNames);

TEST_P(AccessibleNames, NoControlIsUnnamed) {
  for (QWidget* control : controls()) {
    ASSERT_NE(control, nullptr);
    EXPECT_FALSE(name_of(control).isEmpty()) << control->objectName().toStdString();
  }
  // A label that shows text is named by it, not by what names it while empty.
  open_quietly(pane_sized_clip());
  EXPECT_EQ(name_of(form->Label1), QString::fromStdString(pane_sized_clip()));
}

TEST_P(AccessibleNames, ThePickStripsSayHowToUseThem) {
  for (QWidget* strip : {form->Picture4, form->Picture5}) {
    QAccessibleInterface* found = accessible(strip);
    ASSERT_NE(found, nullptr);
    EXPECT_FALSE(found->text(QAccessible::Description).isEmpty())
        << strip->objectName().toStdString();
  }
}

TEST_F(Velmora6Window, FrameCountBoxIsLabelledByItsCaption) {
  QAccessibleInterface* box = QAccessible::queryAccessibleInterface(form->Text1);
  ASSERT_NE(box, nullptr);
  bool labelled = false;
  for (const auto& [other, relation] : box->relations(QAccessible::Label))
    labelled = labelled || other->object() == form->Label4;
  EXPECT_TRUE(labelled);
}

}  // namespace
}  // namespace velmora_test
