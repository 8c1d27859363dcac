// SPDX-License-Identifier: GPL-3.0-or-later
// Picking the band on the pick strips: bounds, ordering, the warning, the marker lines and
// the restart of the composite.
#include <QImage>
#include <QRadioButton>

#include "composite/band_selection.h"
#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

using composite::Picture4_MouseDown;
using composite::Picture5_MouseDown;

// The pick strips of either edition's window: the handlers are shared, the strips differ
// in colour, height and place.
class BandTest : public EditionWindow {
 protected:
  // A pixel under a marker line: the complement of the strip's colour.
  uint32_t marked(uint32_t colour) const { return ~colour | 0xff000000u; }
  // Columns of Picture4 whose every pixel is complemented.
  std::vector<int> marked_columns() const {
    std::vector<int> columns;
    const auto& pane = *form->Picture4;
    for (int x = 0; x < pane.scale_width(); ++x) {
      bool all = true;
      for (int y = 0; y < pane.scale_height(); ++y)
        all = all && pane.pixel(x, y) == marked(background);
      if (all) columns.push_back(x);
    }
    return columns;
  }
  uint32_t background = 0;
  void SetUp() override {
    EditionWindow::SetUp();
    background = form->Picture4->pixel(0, 0);
  }
};

VELMORA_FOR_BOTH_EDITIONS(BandTest);

// Only the auto-advance edition puts a snapshot back as the composite's background.
using BandTestOfVelmora6 = Velmora6Window;

TEST_P(BandTest, TwoPressesGiveAnOrderedBandRoundedDown) {
  Picture4_MouseDown(*form, 120.7);
  EXPECT_EQ(form->state.click_state, 1);
  EXPECT_EQ(form->state.cut_x1, 120);
  EXPECT_EQ(marked_columns(), std::vector<int>{120});
  Picture4_MouseDown(*form, 80.2);
  EXPECT_EQ(form->state.click_state, 2);
  EXPECT_EQ(form->state.cut_x1, 80);
  EXPECT_EQ(form->state.cut_x2, 120);
  EXPECT_EQ(marked_columns(), (std::vector<int>{80, 120}));
  EXPECT_TRUE(messages.empty());
  Picture4_MouseDown(*form, 37.9);  // a third press starts a new pair
  EXPECT_EQ(form->state.cut_x1, 37);
  EXPECT_EQ(form->state.click_state, 1);
  EXPECT_EQ(marked_columns(), std::vector<int>{37});
}

TEST_P(BandTest, NarrowBandWarnsAndStays) {
  Picture4_MouseDown(*form, 50);
  Picture4_MouseDown(*form, 52);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, QStringLiteral("もう一度、マウスでクリックしてください。"));
  EXPECT_EQ(messages[0].style, window::kStyleOkOnly);
  EXPECT_EQ(messages[0].title, QString::fromStdString(edition().title));
  EXPECT_EQ(form->state.click_state, 2);
  EXPECT_EQ(form->state.cut_x1, 50);
  EXPECT_EQ(form->state.cut_x2, 52);
  // Three pixels apart is wide enough.
  Picture4_MouseDown(*form, 10);
  Picture4_MouseDown(*form, 13);
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(marked_columns(), (std::vector<int>{10, 13}));
}

TEST_P(BandTest, SameColumnTwiceCancelsTheLinesAndWarns) {
  Picture4_MouseDown(*form, 200);
  Picture4_MouseDown(*form, 200.5);
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(form->state.click_state, 2);
  EXPECT_EQ(form->state.cut_x1, form->state.cut_x2);
  EXPECT_TRUE(plain(*form->Picture4, background));
}

TEST_P(BandTest, HorizontalStripTakesRowsAndDrawsRowLines) {
  form->Option2->click();
  Picture5_MouseDown(*form, 150.9);
  Picture5_MouseDown(*form, 40);
  EXPECT_EQ(form->state.cut_y1, 40);
  EXPECT_EQ(form->state.cut_y2, 150);
  const auto& strip = *form->Picture5;
  for (int x = 0; x < strip.scale_width(); ++x) {
    ASSERT_EQ(strip.pixel(x, 40), marked(background)) << x;
    ASSERT_EQ(strip.pixel(x, 150), marked(background)) << x;
    ASSERT_EQ(strip.pixel(x, 41), background) << x;
  }
  EXPECT_EQ(form->state.cut_x1, 0);  // the other direction's band is left alone
}

TEST_P(BandTest, ClickStateIsSharedByBothStrips) {
  Picture4_MouseDown(*form, 30);
  Picture4_MouseDown(*form, 90);
  form->Option2->click();
  // State 2: the old row bounds (0 and 0) are drawn twice and cancel; the new row shows.
  Picture5_MouseDown(*form, 100);
  EXPECT_EQ(form->state.click_state, 1);
  EXPECT_EQ(form->state.cut_y1, 100);
  EXPECT_EQ(form->Picture5->pixel(3, 0), background);
  EXPECT_EQ(form->Picture5->pixel(3, 100), marked(background));
}

TEST_P(BandTest, APressRestartsAComposite) {
  form->Picture3->set_pixel(5, 5, 0xff00ff00u);
  form->state.screen_count = 4;
  form->state.click_state = 2;
  Picture4_MouseDown(*form, 60);
  EXPECT_EQ(form->state.screen_count, 0);
  EXPECT_EQ(form->state.click_state, 1);
  EXPECT_TRUE(plain(*form->Picture3, kWhite));
}

TEST_F(BandTestOfVelmora6, ARestartShowsARestoredSnapshotAgain) {
  QImage snapshot(320, 240, QImage::Format_RGB32);
  snapshot.fill(QColor(10, 20, 30));
  form->Picture3->set_background_picture(snapshot);
  form->Picture3->set_pixel(7, 7, 0xffff0000u);
  form->state.screen_count = 2;
  Picture4_MouseDown(*form, 60);
  EXPECT_TRUE(plain(*form->Picture3, 0xff0a141eu));
}

TEST_P(BandTest, AnEmptyCompositeIsNotTouched) {
  form->Picture3->set_pixel(5, 5, 0xff00ff00u);
  Picture4_MouseDown(*form, 60);
  EXPECT_EQ(form->Picture3->pixel(5, 5), 0xff00ff00u);
}

TEST_P(BandTest, PressesFarOutsideTheStripAreHeldTo16Bits) {
  Picture4_MouseDown(*form, 1e9);
  Picture4_MouseDown(*form, -1e9);
  EXPECT_EQ(form->state.cut_x1, -32768);
  EXPECT_EQ(form->state.cut_x2, 32767);
  EXPECT_TRUE(plain(*form->Picture4, background));  // both lines lie off the strip
}

}  // namespace
}  // namespace velmora_test
