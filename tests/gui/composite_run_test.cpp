// SPDX-License-Identifier: GPL-3.0-or-later
// The composite run on a real RGB clip: strips pixel for pixel, the end at the far edge,
// the clipboard snapshot, and what handlers do to a run from within its yield.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <cstdio>

#include "composite/band_copy.h"
#include "composite/band_selection.h"
#include "composite/builder.h"
#include "composite/clear_and_back.h"
#include "composite/frames_per_strip.h"
#include "composite/pacing.h"
#include "media/open_close.h"
#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

using composite::CmdGosei_Click;

int last_frame() { return kClipFrames - 1; }

// Which frame strip k shows: the first strip the frame after the start, later ones
// `frames` on from the one before, the clip standing still on its last frame.
std::function<int(int)> every(int frames) {
  return [frames](int k) { return std::min(1 + k * std::max(frames, 0), last_frame()); };
}

class RunTest : public WithCompositeClip<Velmora6Window> {
 protected:
  void vertical_band(double a, double b) {
    composite::Picture4_MouseDown(*form, a);
    composite::Picture4_MouseDown(*form, b);
  }
  void horizontal_band(double a, double b) {
    form->Option2->click();
    composite::Picture5_MouseDown(*form, a);
    composite::Picture5_MouseDown(*form, b);
  }
  void run(const QString& frames = QStringLiteral("1")) {
    form->Text1->setText(frames);
    messages.clear();
    CmdGosei_Click(*form);
  }
  QImage composite_image() const { return form->Picture3->image(); }
  QImage clipboard_image() const { return QGuiApplication::clipboard()->image(); }
  bool ended_with_no_band_message() const {
    return messages.size() == 1 && messages[0].text == composite::no_band_message() &&
           messages[0].title == QStringLiteral("velmora6") &&
           messages[0].style == window::kStyleOkOnly;
  }
};

class RunFramesTest : public RunTest, public ::testing::WithParamInterface<int> {};

TEST_P(RunFramesTest, VerticalRunFillsTheCompositeStripByStrip) {
  const int n = GetParam();
  vertical_band(100, 140);  // w = 40: strip 7 reaches column 320
  run(QString::number(n));
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(form->state.screen_count, 7);
  EXPECT_FALSE(form->CmdGosei->isEnabled());
  EXPECT_EQ(position_reply(), every(n)(7));
  EXPECT_EQ(difference(composite_image(), expected_vertical(100, 40, 7, every(n))), "");
  // The snapshot was taken before the last strip.
  EXPECT_EQ(difference(clipboard_image(), expected_vertical(100, 40, 6, every(n))), "");
}

TEST_P(RunFramesTest, HorizontalRunStacksStripsFromTheTop) {
  const int n = GetParam();
  horizontal_band(90, 60);  // rows 60 .. 90, w = 30: strip 7 reaches row 240
  run(QString::number(n));
  EXPECT_EQ(form->state.screen_count, 7);
  EXPECT_EQ(difference(composite_image(), expected_horizontal(60, 30, 7, every(n))), "");
  EXPECT_EQ(difference(clipboard_image(), expected_horizontal(60, 30, 6, every(n))), "");
}

INSTANTIATE_TEST_SUITE_P(Frames, RunFramesTest, ::testing::Values(1, 3, 0, -2));

TEST_F(RunTest, BandPastThePaneEdgeCopiesWhite) {
  vertical_band(300, 339);  // columns 320 .. 339 lie beyond the capture
  run();
  EXPECT_EQ(form->state.screen_count, 8);  // 8 * 39 + 39 >= 320
  EXPECT_EQ(difference(composite_image(), expected_vertical(300, 39, 8, every(1))), "");
  EXPECT_EQ(composite_image().pixel(25, 10) | 0xff000000u, kWhite);
}

TEST_F(RunTest, FractionsRoundHalvesToEven) {
  vertical_band(0, 100);  // w = 100: strips at 0, 100, 200, 300
  run(QStringLiteral(" 2.5 "));
  EXPECT_EQ(position_reply(), every(2)(3));
  form->state.screen_count = 0;
  form->state.click_state = 2;
  const int before = position_reply();
  run(QStringLiteral("3.5"));
  EXPECT_EQ(position_reply(), before + 1 + 3 * 4);
}

TEST_F(RunTest, FramesThatAreNoNumberStartNoRun) {
  vertical_band(100, 140);
  QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
  for (const QString& text : {QString(), QStringLiteral("abc"), QStringLiteral("99999")}) {
    run(text);
    ASSERT_EQ(messages.size(), 1u) << text.toStdString();
    EXPECT_EQ(messages[0].text, composite::frames_per_strip_message());
    EXPECT_EQ(messages[0].title, QStringLiteral("velmora6"));
    EXPECT_TRUE(form->CmdGosei->isEnabled());
    EXPECT_EQ(position_reply(), 0);
    EXPECT_EQ(form->state.screen_count, 0);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
  }
}

TEST_F(RunTest, IncompleteBandShowsTheMessageAndSendsNothing) {
  QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
  composite::Picture4_MouseDown(*form, 100);  // click_state 1
  const int beeps_before = beeps;
  int sent = 0;
  media::set_command_listener([&](const std::string&, int32_t, const std::string&) { ++sent; });
  run();
  media::set_command_listener({});
  EXPECT_EQ(sent, 0);
  EXPECT_TRUE(ended_with_no_band_message());
  EXPECT_TRUE(form->CmdGosei->isEnabled());
  EXPECT_EQ(position_reply(), 0);
  EXPECT_EQ(beeps, beeps_before);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
  EXPECT_TRUE(plain(*form->Picture3, kWhite));
}

TEST_F(RunTest, ClipboardHoldsTheCompositeAsItStoodBeforeEachStrip) {
  vertical_band(100, 140);
  QImage before_last(320, 240, QImage::Format_RGB32);
  before_last.fill(Qt::white);
  int checked = 0;
  YieldHook hook([&] {
    // At each yield the strip just drawn is on the composite, not yet on the clipboard.
    EXPECT_EQ(difference(clipboard_image(), before_last), "") << form->state.screen_count;
    before_last = composite_image().copy();
    ++checked;
    return true;
  });
  run();
  EXPECT_EQ(checked, 7);
  EXPECT_EQ(difference(clipboard_image(), before_last), "");
}

TEST_F(RunTest, ANewBandDuringARunEndsItWithItsMessage) {
  vertical_band(77, 77);  // width 0: the composite never fills
  YieldHook hook([&] {
    if (form->state.screen_count < 5) return true;
    EXPECT_EQ(difference(composite_image(), expected_vertical(77, 0, 4, every(1))), "");
    composite::Picture4_MouseDown(*form, 10);
    return false;
  });
  run();
  EXPECT_TRUE(ended_with_no_band_message());
  EXPECT_EQ(form->state.screen_count, 0);
  EXPECT_EQ(form->state.click_state, 1);
  EXPECT_TRUE(form->CmdGosei->isEnabled());
  EXPECT_TRUE(plain(*form->Picture3, kWhite));
  EXPECT_EQ(position_reply(), 5);
}

TEST_F(RunTest, StripCountIsHeldAt32767) {
  vertical_band(77, 77);
  form->state.screen_count = 32765;
  std::vector<int> counts;
  YieldHook hook([&] {
    counts.push_back(form->state.screen_count);
    if (counts.size() < 4) return true;
    composite::Command6_Click(*form);
    return false;
  });
  run();
  EXPECT_EQ(counts, (std::vector<int>{32766, 32767, 32767, 32767}));
  EXPECT_TRUE(ended_with_no_band_message());
}

TEST_F(RunTest, ClearDuringARunEndsIt) {
  vertical_band(100, 140);
  YieldHook hook([&] {
    if (form->state.screen_count < 3) return true;
    composite::Command6_Click(*form);
    return false;
  });
  run();
  EXPECT_TRUE(ended_with_no_band_message());
  EXPECT_TRUE(plain(*form->Picture3, kWhite));
  EXPECT_TRUE(plain(*form->Picture4, form->Picture4->pixel(0, 0)));
  EXPECT_EQ(form->state.click_state, 0);
  EXPECT_EQ(form->state.screen_count, 0);
  EXPECT_TRUE(form->CmdGosei->isEnabled());
}

TEST_F(RunTest, BackDuringARunRedrawsTheLastStripFromALaterFrame) {
  vertical_band(100, 140);
  YieldHook hook([&] {
    if (form->state.screen_count < 5) return true;
    composite::Cmd_back_Click(*form);  // strips 0 .. 3 show; strip 4 comes again
    EXPECT_EQ(form->state.screen_count, 4);
    EXPECT_EQ(difference(composite_image(), expected_vertical(100, 40, 3, every(1))), "");
    return false;
  });
  run();
  EXPECT_EQ(form->state.screen_count, 7);
  // Strip k >= 4 was drawn by pass k + 1.
  const auto frame_of = [](int k) { return k < 4 ? 1 + k : 2 + k; };
  EXPECT_EQ(difference(composite_image(), expected_vertical(100, 40, 7, frame_of)), "");
  EXPECT_TRUE(form->Picture3->background_picture().has_value());
}

TEST_F(RunTest, BackAfterAFullRunShowsAllButTheLastStrip) {
  vertical_band(100, 140);
  run();
  ASSERT_EQ(form->state.screen_count, 7);
  composite::Cmd_back_Click(*form);
  EXPECT_EQ(form->state.screen_count, 6);
  EXPECT_EQ(difference(composite_image(), expected_vertical(100, 40, 6, every(1))), "");
  EXPECT_FALSE(form->CmdGosei->isEnabled());
  // Play would enable the button again; the run goes on over strip 6.
  form->cmd_enabled(true, true);
  run();
  EXPECT_EQ(form->state.screen_count, 7);
  const auto frame_of = [](int k) { return k < 6 ? 1 + k : (k == 6 ? 9 : 10); };
  EXPECT_EQ(difference(composite_image(), expected_vertical(100, 40, 7, frame_of)), "");
}

TEST_F(RunTest, BackBeforeARunDoesNothing) {
  vertical_band(100, 140);
  composite::Cmd_back_Click(*form);
  EXPECT_EQ(form->state.screen_count, 0);
  run();
  EXPECT_EQ(difference(composite_image(), expected_vertical(100, 40, 7, every(1))), "");
}

TEST_F(RunTest, PacedStepsWaitForANewSlotAndOnlyAfterTheFirstStrip) {
  vertical_band(100, 180);  // w = 80: strips 0 .. 3
  // Each read moves the clock 100 ms; the position is noted at every read.
  struct Read {
    int32_t ticks;
    int32_t position;
  };
  std::vector<Read> reads;
  service::set_tick_source([&] {
    ticks += 100;
    reads.push_back({ticks, position_reply()});
    return ticks;
  });
  run(QStringLiteral("2"));
  EXPECT_EQ(position_reply(), 1 + 3 * 2);
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(reads.front().position, 1);  // the first strip's step was not paced
  // Between two steps the clock has left the slot it was in before the first of them.
  for (size_t i = 1; i < reads.size(); ++i) {
    if (reads[i].position == reads[i - 1].position) continue;
    // reads[i - 1] came right before a step; the next step needs a later slot.
    const int32_t slot = composite::slot_of(reads[i - 1].ticks);
    size_t next = i;
    while (next < reads.size() && reads[next].position == reads[i].position) ++next;
    if (next == reads.size()) break;
    bool slot_changed = false;
    for (size_t r = i; r < next; ++r)
      slot_changed = slot_changed || composite::slot_of(reads[r].ticks) != slot;
    EXPECT_TRUE(slot_changed) << "step after read " << next - 1;
  }
}

TEST_F(RunTest, EachPassSendsItsStepsThenStopAndUpdate) {
  vertical_band(100, 180);  // w = 80: strips 0 .. 3
  std::vector<std::string> sent;
  media::set_command_listener([&](const std::string& command, int32_t, const std::string&) {
    if (command != "status avfile position") sent.push_back(command);  // the timer's
  });
  run(QStringLiteral("2"));
  media::set_command_listener({});
  const std::string update =
      "update avfile hdc " + std::to_string(form->Picture2->surface_handle());
  std::vector<std::string> want = {"step avfile", "stop avfile", update};
  for (int pass = 1; pass <= 3; ++pass) {
    want.insert(want.end(), {"step avfile", "step avfile", "stop avfile", update});
  }
  EXPECT_EQ(sent, want);
}

TEST_F(RunTest, ASecondRunInsideTheYieldGoesOnAndTheFirstResumesAfterIt) {
  vertical_band(100, 140);
  bool pressed = false;
  YieldHook hook([&] {
    if (form->state.screen_count < 2) return true;
    pressed = true;
    form->cmd_enabled(true, true);  // play, pressed during the run, enables the button
    CmdGosei_Click(*form);          // ... and the user presses it
    EXPECT_EQ(form->state.screen_count, 7);
    return false;
  });
  run();
  ASSERT_TRUE(pressed);
  // The inner run drew strips 2 .. 7 from frames 3 .. 8; the outer one then drew strip 7
  // once more, from frame 9, and found the composite full.
  EXPECT_EQ(position_reply(), 9);
  const auto frame_of = [](int k) { return k < 7 ? 1 + k : 9; };
  EXPECT_EQ(difference(composite_image(), expected_vertical(100, 40, 7, frame_of)), "");
}

TEST_F(RunTest, ADirectionChosenDuringARunAppliesFromTheNextStrip) {
  horizontal_band(60, 90);  // rows 60 .. 90, kept while the columns are picked
  form->Option1->click();
  vertical_band(100, 140);
  YieldHook hook([&] {
    if (form->state.screen_count < 3) return true;
    form->Option2->click();  // strips 3 on are rows 60 .. 90, from row 90 of the composite down
    return false;
  });
  run();
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(form->state.screen_count, 7);
  QImage want = expected_vertical(100, 40, 2, every(1));
  const QImage rows = expected_horizontal(60, 30, 7, every(1));
  for (int y = 90; y < 240; ++y)
    for (int x = 0; x < 320; ++x) want.setPixel(x, y, rows.pixel(x, y));
  EXPECT_EQ(difference(composite_image(), want), "");
}

TEST_F(RunTest, OpeningAClipDuringARunEndsIt) {
  vertical_band(100, 140);
  YieldHook hook([&] {
    if (form->state.screen_count < 3) return true;
    open(pane_sized_clip());
    return false;
  });
  run();
  EXPECT_TRUE(ended_with_no_band_message());
  EXPECT_EQ(form->state.screen_count, 0);
  EXPECT_EQ(form->state.click_state, 0);
  EXPECT_TRUE(plain(*form->Picture3, kWhite));
  EXPECT_EQ(position_reply(), 0) << "the new clip stands where it opened";
  EXPECT_EQ(form->Label1->text(), QString::fromStdString(pane_sized_clip()));
}

TEST_F(RunTest, ARunPastTheLastFrameFillsTheCompositeWithoutBeeps) {
  vertical_band(100, 140);
  beeps = 0;
  run(QStringLiteral("10"));  // strips from frames 1, 11, 21, 31, then the last one, 39
  EXPECT_EQ(beeps, 0);
  EXPECT_EQ(form->state.screen_count, 7);
  EXPECT_EQ(position_reply(), last_frame());
  EXPECT_EQ(difference(composite_image(), expected_vertical(100, 40, 7, every(10))), "");
}

// The three ways out, each taken from within a run's yield.
const std::vector<std::pair<const char*, std::function<void(window::Form1&)>>> kExits = {
    {"exit button", [](window::Form1& form) { media::Cmd_End_Click(form); }},
    {"exit menu item", [](window::Form1& form) { media::mnuend_Click(form); }},
    {"window close", [](window::Form1& form) { form.close(); }},
};

TEST_F(RunTest, ExitDuringARunEndsTheProgramAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const auto& [name, leave] : kExits) {
    EXPECT_EXIT(
        {
          window::seams().message_box = [](const QString&, int, const QString&) {
            std::fputs("message after exit\n", stderr);
          };
          vertical_band(77, 77);  // a run that would never end by itself
          bool left = false;
          YieldHook hook([&] {
            if (form->state.screen_count < 3) return true;
            if (left) {  // still here: end the run so that the test fails instead of hanging
              std::fputs("still running\n", stderr);
              composite::Command6_Click(*form);
              return false;
            }
            std::fputs("exit pressed\n", stderr);
            left = true;
            leave(*form);
            return true;
          });
          run();
          std::fputs("run returned\n", stderr);
        },
        ::testing::ExitedWithCode(0), "exit pressed\n$")
        << name;
  }
}

}  // namespace
}  // namespace velmora_test
