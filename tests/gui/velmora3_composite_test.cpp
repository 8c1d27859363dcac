// SPDX-License-Identifier: GPL-3.0-or-later
// The manual-advance edition's composite buttons: one strip per press from the frame the
// clip stands on, no edge test, and its own clear.
#include "editions/velmora3_composite.h"

#include <QPushButton>

#include "composite/band_selection.h"
#include "composite/band_copy.h"
#include "media/transport.h"
#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

using editions::velmora3_CmdGosei_Click;
using editions::velmora3_Command6_Click;

class ManualTest : public WithCompositeClip<Velmora3Window> {
 protected:
  void SetUp() override {
    WithCompositeClip::SetUp();
    // Any read of the tick count would be a fault in this edition.
    service::set_tick_source([this]() -> int32_t {
      ++tick_reads;
      return 0;
    });
  }
  void vertical_band(double a, double b) {
    composite::Picture4_MouseDown(*form, a);
    composite::Picture4_MouseDown(*form, b);
    messages.clear();
  }
  void press() {
    velmora3_CmdGosei_Click(*form);
    EXPECT_TRUE(form->CmdGosei->isEnabled());
  }
  int tick_reads = 0;
};

TEST_F(ManualTest, EachPressMakesOneStripOfTheCurrentFrame) {
  vertical_band(100, 140);
  QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
  press();                       // frame 0
  press();                       // frame 0 again: the clip has not moved
  media::Command3_Click(*form);  // one frame on
  media::Command3_Click(*form);
  press();  // frame 2
  EXPECT_EQ(form->state.screen_count, 3);
  const auto frame_of = [](int k) { return k < 2 ? 0 : 2; };
  QImage want = expected_vertical(100, 40, 2, frame_of);
  EXPECT_EQ(difference(form->Picture3->image(), want), "");
  EXPECT_EQ(position_reply(), 2);
  EXPECT_EQ(tick_reads, 0);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
}

TEST_F(ManualTest, APressWithNoClipOpenBeepsAndCopiesWhatTheCapturePaneHolds) {
  vertical_band(100, 140);
  press();  // frame 0 goes into the capture pane
  form->mnuclose->trigger();
  beeps = 0;
  press();
  EXPECT_EQ(beeps, 2) << "the stop and the update fail";
  EXPECT_EQ(form->state.screen_count, 2);
  const QImage want = expected_vertical(100, 40, 1, [](int) { return 0; });
  EXPECT_EQ(difference(form->Picture3->image(), want), "");
}

TEST_F(ManualTest, APressSendsStopAndUpdateOnly) {
  vertical_band(10, 20);
  std::vector<std::string> sent;
  media::set_command_listener([&](const std::string& command, int32_t, const std::string&) {
    if (command != "status avfile position") sent.push_back(command);
  });
  press();
  media::set_command_listener({});
  const std::vector<std::string> want = {
      "stop avfile", "update avfile hdc " + std::to_string(form->Picture2->surface_handle())};
  EXPECT_EQ(sent, want);
}

TEST_F(ManualTest, IncompleteBandShowsTheMessageAndChangesNothing) {
  composite::Picture4_MouseDown(*form, 10);
  form->state.screen_count = 2;
  int sent = 0;
  media::set_command_listener([&](const std::string&, int32_t, const std::string&) { ++sent; });
  press();
  media::set_command_listener({});
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, composite::no_band_message());
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(form->state.screen_count, 2);
  EXPECT_TRUE(plain(*form->Picture3, kWhite));
}

TEST_F(ManualTest, PressesPastTheEdgeDrawNothingAndGoOnCounting) {
  vertical_band(0, 100);
  for (int i = 0; i < 6; ++i) press();  // strips at 0, 100, 200, 300, 400, 500
  EXPECT_EQ(form->state.screen_count, 6);
  const auto frame_zero = [](int) { return 0; };
  EXPECT_EQ(difference(form->Picture3->image(), expected_vertical(0, 100, 3, frame_zero)), "");
  // The count is held at 32767; the strip lies far beyond the pane and draws nothing.
  form->state.screen_count = 32767;
  const QImage before = form->Picture3->image().copy();
  press();
  EXPECT_EQ(form->state.screen_count, 32767);
  EXPECT_EQ(difference(form->Picture3->image(), before), "");
}

TEST_F(ManualTest, ClearKeepsTheCapturedFrame) {
  vertical_band(100, 140);
  press();
  form->CmdGosei->setEnabled(false);
  velmora3_Command6_Click(*form);
  EXPECT_TRUE(plain(*form->Picture3, kWhite));
  EXPECT_TRUE(plain(*form->Picture4, form->Picture4->pixel(0, 0)));
  EXPECT_EQ(form->state.click_state, 0);
  EXPECT_EQ(form->state.screen_count, 0);
  EXPECT_TRUE(form->CmdGosei->isEnabled());
  EXPECT_EQ(form->Picture2->pixel(5, 6), frame_pixel(0, 5, 6));
}

}  // namespace
}  // namespace velmora_test
