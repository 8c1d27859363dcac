// SPDX-License-Identifier: GPL-3.0-or-later
// Clearing the composite and stepping it back from the clipboard, outside a run.
#include <QClipboard>
#include <QMimeData>
#include <QPushButton>

#include "composite/band_selection.h"
#include "composite/clear_and_back.h"
#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

using composite::Cmd_back_Click;
using composite::Command6_Click;

QImage filled(QColor colour) {
  QImage image(320, 240, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

class ClearBackTest : public Velmora6Window {
 protected:
  void SetUp() override {
    Velmora6Window::SetUp();
    QGuiApplication::clipboard()->setImage(filled(QColor(1, 2, 3)));
  }
};

TEST_F(ClearBackTest, ClearReturnsBandAndCompositeToTheStart) {
  composite::Picture4_MouseDown(*form, 40);
  composite::Picture4_MouseDown(*form, 80);
  form->Picture2->set_pixel(1, 1, 0xff112233u);
  form->Picture3->set_background_picture(filled(QColor(9, 9, 9)));
  form->Picture3->set_pixel(2, 2, 0xff445566u);
  form->Picture5->set_pixel(3, 3, 0xff000000u);
  form->state.screen_count = 6;
  form->CmdGosei->setEnabled(false);

  Command6_Click(*form);

  EXPECT_TRUE(plain(*form->Picture2, kWhite));
  EXPECT_TRUE(plain(*form->Picture3, kWhite));
  EXPECT_FALSE(form->Picture3->background_picture().has_value());
  EXPECT_TRUE(plain(*form->Picture4, form->Picture4->pixel(0, 0)));
  EXPECT_TRUE(plain(*form->Picture5, form->Picture5->pixel(0, 0)));
  EXPECT_EQ(form->state.click_state, 0);
  EXPECT_EQ(form->state.screen_count, 0);
  EXPECT_TRUE(form->CmdGosei->isEnabled());
  EXPECT_EQ(QGuiApplication::clipboard()->image(), filled(QColor(1, 2, 3)));  // untouched
}

TEST_F(ClearBackTest, BackShowsTheSnapshotAndCountsOneLess) {
  form->state.screen_count = 5;
  form->Picture3->set_pixel(0, 0, 0xffabcdefu);
  Cmd_back_Click(*form);
  EXPECT_EQ(form->state.screen_count, 4);
  EXPECT_TRUE(plain(*form->Picture3, 0xff010203u));
  ASSERT_TRUE(form->Picture3->background_picture().has_value());
  // Twice with no strip between: the same picture, one lower again.
  Cmd_back_Click(*form);
  EXPECT_EQ(form->state.screen_count, 3);
  EXPECT_TRUE(plain(*form->Picture3, 0xff010203u));
}

TEST_F(ClearBackTest, BackWithOneStripOrNoneDoesNothing) {
  for (int16_t count : {int16_t{0}, int16_t{1}}) {
    form->state.screen_count = count;
    Cmd_back_Click(*form);
    EXPECT_EQ(form->state.screen_count, count);
    EXPECT_TRUE(plain(*form->Picture3, kWhite));
    EXPECT_FALSE(form->Picture3->background_picture().has_value());
  }
}

TEST_F(ClearBackTest, BackWithoutAPictureOnTheClipboardDoesNothing) {
  form->state.screen_count = 3;
  form->Picture3->set_pixel(4, 4, 0xff00ff00u);
  QGuiApplication::clipboard()->setText(QStringLiteral("no picture"));
  Cmd_back_Click(*form);
  QGuiApplication::clipboard()->clear();
  Cmd_back_Click(*form);
  EXPECT_EQ(form->state.screen_count, 3);
  EXPECT_EQ(form->Picture3->pixel(4, 4), 0xff00ff00u);
  EXPECT_FALSE(form->Picture3->background_picture().has_value());
}

TEST_F(ClearBackTest, ClearAfterBackLeavesPlainWhiteForLaterRestarts) {
  form->state.screen_count = 3;
  Cmd_back_Click(*form);
  Command6_Click(*form);
  form->Picture3->set_pixel(4, 4, 0xff00ff00u);
  form->state.screen_count = 2;
  composite::Picture4_MouseDown(*form, 10);  // restarts the composite
  EXPECT_TRUE(plain(*form->Picture3, kWhite));
}

}  // namespace
}  // namespace velmora_test
