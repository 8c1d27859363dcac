// SPDX-License-Identifier: GPL-3.0-or-later
// Play, pause, steps, rewind, the scroll-bar seek, the position tick and the capture pane.
#include "media/transport.h"

#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

class Transport : public EditionWindow {
 protected:
  void SetUp() override {
    EditionWindow::SetUp();
    open_quietly(pane_sized_clip());
  }

  std::string update_command() const {
    return "update avfile hdc " + std::to_string(form->Picture2->surface_handle());
  }

  // Counts the pixels of Picture2 that differ from `frame` of the test pattern.
  int capture_differences(int frame) const {
    int differing = 0;
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x)
        if ((form->Picture2->pixel(x, y) & 0xffffffu) != clipwriter::test_pattern(frame, x, y))
          ++differing;
    return differing;
  }
};

VELMORA_FOR_BOTH_EDITIONS(Transport);

TEST_P(Transport, EachButtonSendsItsCommandsInOrder) {
  const std::string update = update_command();
  struct Row {
    QPushButton* button;
    std::vector<std::string> expected;
  };
  form->Command1->click();
  EXPECT_EQ(commands(), (std::vector<std::string>{"put avfile destination at 0 0  320 240",
                                                  "play avfile window"}));
  const std::vector<Row> rows{
      {form->Command2, {"pause avfile", "stop avfile", update}},
      {form->Command3, {"step avfile"}},
      {form->Command4, {"step avfile reverse"}},
      {form->Cmd_Reserve, {"seek avfile to  0"}},
      {form->Command1, {"put avfile destination at 0 0  320 240", "play avfile window"}},
  };
  for (const Row& row : rows) {
    forget();
    row.button->click();
    EXPECT_EQ(commands(), row.expected) << row.button->objectName().toStdString();
    EXPECT_EQ(beeps, 0) << row.button->objectName().toStdString();
  }
}

TEST_P(Transport, PlaySwitchesEverythingOnAndIsRepeatable) {
  form->Command1->click();
  for (QWidget* on : std::vector<QWidget*>{form->Command1, form->Command2, form->Command3,
                                           form->Command4, form->Command6, form->HScroll1,
                                           form->CmdGosei, form->Cmd_Reserve, form->Cmd_back})
    if (on != nullptr) {
      EXPECT_TRUE(on->isEnabled()) << on->objectName().toStdString();
    }
  form->Command1->click();
  EXPECT_TRUE(form->Command2->isEnabled());
  EXPECT_TRUE(form->Timer1->isActive()) << "play leaves the timer as the open left it";
}

TEST_P(Transport, TickOfAClipNotYetPlayedShowsFrameZero) {
  form->HScroll1->setValue(7);
  ASSERT_TRUE(wait_until([&] { return !sent.empty(); }, 1000)) << "Timer1 does not tick";
  EXPECT_EQ(sent[0].command, "status avfile position");
  EXPECT_EQ(form->Label2->text(), QStringLiteral("フレーム\n    0"));
  EXPECT_EQ(form->HScroll1->value(), 0);
  EXPECT_EQ(beeps, 0);
  // A tick is no drag: it sends no seek.
  for (const auto& one : sent) EXPECT_EQ(one.command, "status avfile position");
}

TEST_P(Transport, TickFollowsTheClip) {
  form->Command1->click();
  form->Command2->click();
  form->Command3->click();
  form->Command3->click();
  const int position = position_reply();
  forget();
  media::Timer1_Timer(*form);
  EXPECT_EQ(form->HScroll1->value(), position);
  EXPECT_EQ(form->Label2->text(), QStringLiteral("フレーム\n    ") + QString::number(position));
  EXPECT_EQ(form->Label2->text().count('\n'), 1) << "LF CR makes one line break";
}

TEST_P(Transport, PauseLeavesTheFrameInTheCapturePanePixelForPixel) {
  form->Command1->click();
  run_events_for(300);
  form->Command2->click();
  const int frame = position_reply();
  EXPECT_GT(frame, 0) << "the clip did not play";
  EXPECT_EQ(capture_differences(frame), 0);
  // Steps and rewind leave the capture pane alone.
  form->Command3->click();
  form->Cmd_Reserve->click();
  EXPECT_EQ(capture_differences(frame), 0);
}

TEST_P(Transport, DragSeeksThenCapturesEveryMovement) {
  form->Command1->click();
  form->Command2->click();
  forget();
  bool timer_off_at_seek = false;
  on_command = [&](const std::string& command) {
    if (command.rfind("seek", 0) == 0) timer_off_at_seek = !form->Timer1->isActive();
  };
  ThumbDrag drag(*form->HScroll1);
  ASSERT_EQ(drag.move_to(17), 17);
  EXPECT_EQ(commands(),
            (std::vector<std::string>{"seek avfile to  17", "stop avfile", update_command()}));
  EXPECT_TRUE(timer_off_at_seek);
  EXPECT_TRUE(form->Timer1->isActive());
  EXPECT_EQ(capture_differences(17), 0);
  forget();
  ASSERT_EQ(drag.move_to(23), 23);
  drag.release();
  EXPECT_EQ(commands().size(), 3u);
  EXPECT_EQ(commands()[0], "seek avfile to  23");
  EXPECT_EQ(capture_differences(23), 0);
  EXPECT_EQ(position_reply(), 23);
}

TEST_P(Transport, ArrowsAndTrackSendNothing) {
  form->Command1->click();
  form->Command2->click();
  form->Timer1->stop();
  forget();
  form->HScroll1->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  form->HScroll1->triggerAction(QAbstractSlider::SliderPageStepAdd);
  form->HScroll1->setValue(30);
  EXPECT_TRUE(sent.empty());
}

TEST_P(Transport, DragRestartsTheIntervalSoNoTickPullsTheThumbBack) {
  form->Command1->click();
  form->Command2->click();
  forget();
  // Movements every 40 ms for 400 ms: no tick may come in between.
  ThumbDrag drag(*form->HScroll1);
  for (int position = 1; position <= 10; ++position) {
    ASSERT_EQ(drag.move_to(position), position);
    run_events_for(40);
  }
  for (const auto& one : sent) EXPECT_NE(one.command, "status avfile position");
  drag.release();
  ASSERT_TRUE(wait_until([&] { return sent.back().command == "status avfile position"; }, 1000));
  EXPECT_EQ(form->HScroll1->value(), 10);
}

// After the clip is gone every tick used to beep, ten times a second, without end.
TEST_P(Transport, FailingTickShowsTheDescriptionOnceAndStopsTheTimer) {
  open(std::string("/nonexistent/gone.avi"));  // closes the clip, then fails
  ASSERT_TRUE(form->Timer1->isActive());
  forget();
  run_events_for(450);
  ASSERT_EQ(sent.size(), 1u) << "one failing tick, then silence";
  EXPECT_EQ(beeps, 1);
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_EQ(form->Label2->text(),
            QStringLiteral("フレーム\n    ") + QString::fromStdString(sent[0].reply));
  EXPECT_EQ(form->HScroll1->value(), 0);
  // The next successful open starts it again.
  open(pane_sized_clip());
  EXPECT_TRUE(form->Timer1->isActive());
}

TEST_P(Transport, DragAfterCloseSwitchesTheTimerOnForOneFailingTick) {
  form->Command1->click();
  form->mnuclose->trigger();
  forget();
  drag_thumb_to(5);
  EXPECT_EQ(beeps, 3) << "seek, stop and update all fail";
  EXPECT_TRUE(form->Timer1->isActive());
  forget();
  run_events_for(450);
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(beeps, 1);
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_EQ(form->HScroll1->value(), 0);
}

TEST_P(Transport, PositionBeyondTheScrollBarIsClampedAndShownRaw) {
  form->Command1->click();
  form->Command2->click();
  drag_thumb_to(30);
  form->HScroll1->setMaximum(20);
  media::Timer1_Timer(*form);
  EXPECT_EQ(form->HScroll1->value(), 20);
  EXPECT_EQ(form->Label2->text(), QStringLiteral("フレーム\n    30"));
}

TEST_P(Transport, VideoAppearsInsideTheVideoPane) {
  form->Command1->click();
  form->Command2->click();
  const int frame = position_reply();
  run_events_for(50);
  const QImage shown = form->Picture1->grab().toImage();
  ASSERT_EQ(shown.size(), QSize(320, 240));
  EXPECT_EQ(shown.pixel(100, 50) & 0xffffffu, clipwriter::test_pattern(frame, 100, 50));
  form->mnuclose->trigger();
  run_events_for(50);
  EXPECT_EQ(form->Picture1->grab().toImage().pixel(100, 50), qRgb(255, 255, 255))
      << "the video leaves the pane with the clip";
}

}  // namespace
}  // namespace velmora_test
