// SPDX-License-Identifier: GPL-3.0-or-later
// The manual-advance program as the user drives it: its buttons wired to its own handlers,
// strips compared pixel for pixel with the clip's frames.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QRadioButton>

#include "composite/band_copy.h"
#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

constexpr QRgb kWhitePixel = 0xffffffffu;

class ManualEdition : public Velmora3Window {
 protected:
  void SetUp() override {
    Velmora3Window::SetUp();
    open_quietly(pane_sized_clip());
    form->Command1->click();  // play switches the composite buttons on
    form->Command2->click();  // and pause holds the clip on a frame
    forget();
  }

  // Two presses on the visible pick strip.
  void pick(double first, double last) {
    window::PictureBox* strip = form->Option1->isChecked() ? form->Picture4 : form->Picture5;
    for (double at : {first, last}) {
      if (strip == form->Picture4)
        emit strip->mouse_pressed(at, 3);
      else
        emit strip->mouse_pressed(3, at);
    }
  }

  // A white composite and a fresh band in the given direction.
  void new_composite(bool vertical, double first, double last) {
    (vertical ? form->Option1 : form->Option2)->click();
    form->Command6->click();
    pick(first, last);
  }

  // Strip k of a band [first, first + w] starts at line k * w; the later strip wins.
  struct Strip {
    int frame;
  };
  QImage expected(bool vertical, int first, int w, const std::vector<Strip>& strips) const {
    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (size_t k = 0; k < strips.size(); ++k)
      for (int j = 0; j <= w; ++j) {
        const int line = int(k) * w + j;
        for (int across = 0; across < (vertical ? 240 : 320); ++across) {
          const int x = vertical ? line : across, y = vertical ? across : line;
          const int sx = vertical ? first + j : across, sy = vertical ? across : first + j;
          if (x < 320 && y < 240)
            image.setPixel(x, y, 0xff000000u | clipwriter::test_pattern(strips[k].frame, sx, sy));
        }
      }
    return image;
  }

  std::string difference_from(const QImage& want) const {
    const QImage& got = form->Picture3->image();
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x)
        if ((got.pixel(x, y) | 0xff000000u) != want.pixel(x, y))
          return "first difference at " + std::to_string(x) + "," + std::to_string(y);
    return "";
  }
};

TEST_F(ManualEdition, EachPressAddsOneStripOfTheFrameTheClipStandsOn) {
  for (const bool vertical : {true, false}) {
    SCOPED_TRACE(vertical ? "vertical" : "horizontal");
    new_composite(vertical, 50, 70);
    const int frame = position_reply();
    form->CmdGosei->click();
    form->CmdGosei->click();  // the clip has not moved: the same frame again
    form->Command3->click();
    form->CmdGosei->click();
    EXPECT_EQ(form->state.screen_count, 3);
    EXPECT_EQ(difference_from(expected(vertical, 50, 20, {{frame}, {frame}, {frame + 1}})), "");
    EXPECT_EQ(position_reply(), frame + 1) << "a press never moves the clip";
    EXPECT_TRUE(form->CmdGosei->isEnabled());
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(ManualEdition, APressWhilePlayingStopsTheClipOnTheFrameItShows) {
  pick(100, 110);
  form->Command1->click();
  run_events_for(250);
  form->CmdGosei->click();
  const int stopped = position_reply();
  EXPECT_GT(stopped, 0) << "the clip did not play";
  EXPECT_EQ(difference_from(expected(true, 100, 10, {{stopped}})), "");
  run_events_for(250);
  EXPECT_EQ(position_reply(), stopped) << "the clip stays stopped";
}

TEST_F(ManualEdition, PressesNeitherTouchTheClipboardNorSendMoreThanStopAndUpdate) {
  pick(10, 30);
  QGuiApplication::clipboard()->setText(QStringLiteral("someone else's"));
  forget();
  form->Timer1->stop();
  form->CmdGosei->click();
  const std::vector<std::string> want{
      "stop avfile", "update avfile hdc " + std::to_string(form->Picture2->surface_handle())};
  EXPECT_EQ(commands(), want);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("someone else's"));
}

TEST_F(ManualEdition, MessagesCarryTheEditionsTitle) {
  form->CmdGosei->click();  // no band yet
  emit form->Picture4->mouse_pressed(40, 3);
  emit form->Picture4->mouse_pressed(41, 3);  // too narrow
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, composite::no_band_message());
  for (const auto& shown : messages) {
    EXPECT_EQ(shown.title, QStringLiteral("velmora3"));
    EXPECT_EQ(shown.style, window::kStyleOkOnly);
  }
  EXPECT_TRUE(form->CmdGosei->isEnabled());
}

// Destinations beyond 32767 are worked out without wrapping: a wrapped column would land
// inside the pane and overwrite the composite.
TEST_F(ManualEdition, StripsPastTheSixteenBitRangeWriteNothingAndTheCountHolds) {
  for (const bool vertical : {true, false}) {
    SCOPED_TRACE(vertical ? "vertical" : "horizontal");
    new_composite(vertical, 0, 100);
    form->CmdGosei->click();
    const QImage first_strip = form->Picture3->image().copy();
    for (const int16_t from : {int16_t(320), int16_t(327), int16_t(32766)}) {
      form->state.screen_count = from;
      for (int i = 0; i < 3; ++i) form->CmdGosei->click();
      EXPECT_EQ(form->state.screen_count, std::min(int(from) + 3, 32767));
      EXPECT_EQ(difference_from(first_strip), "") << "from " << from;
    }
    EXPECT_TRUE(form->CmdGosei->isEnabled());
  }
}

TEST_F(ManualEdition, ClearWhitensTheCompositeAndKeepsTheCapturedFrame) {
  pick(100, 140);
  const int frame = position_reply();
  form->CmdGosei->click();
  form->Command6->click();
  for (int x = 0; x < 320; x += 7) ASSERT_EQ(form->Picture3->pixel(x, x % 240), kWhitePixel);
  EXPECT_EQ(form->state.click_state, 0);
  EXPECT_EQ(form->state.screen_count, 0);
  EXPECT_EQ(form->Picture2->pixel(123, 45) & 0xffffffu, clipwriter::test_pattern(frame, 123, 45));
  // The next band starts a new composite at column 0.
  pick(10, 20);
  form->CmdGosei->click();
  EXPECT_EQ(difference_from(expected(true, 10, 10, {{frame}})), "");
}

}  // namespace
}  // namespace velmora_test
