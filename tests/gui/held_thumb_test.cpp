// SPDX-License-Identifier: GPL-3.0-or-later
// A thumb held down without moving: the position display's ticks still move it, and Qt
// reports those moves as the thumb's own; only the user's drag may seek.
#include "media/transport.h"
#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

class HeldThumb : public EditionWindow {
 protected:
  void SetUp() override {
    EditionWindow::SetUp();
    open_quietly(slow_clip());
    form->Command1->click();  // plays, and the scroll bar comes on
    forget();
  }

  // Long enough to play through the whole test.
  static std::string slow_clip() {
    const clipwriter::ClipSpec spec{.width = 32, .height = 24, .frames = 600, .fps_num = 25};
    return cached_clip(spec);
  }

  bool sent_any(const std::string& prefix) const {
    for (const auto& one : sent)
      if (one.command.rfind(prefix, 0) == 0) return true;
    return false;
  }
};

VELMORA_FOR_BOTH_EDITIONS(HeldThumb);

TEST_P(HeldThumb, TicksMoveAHeldThumbWithoutSeekingOrStoppingTheClip) {
  ThumbDrag hold(*form->HScroll1);
  const int before = position_reply();
  ASSERT_TRUE(wait_until([&] { return form->HScroll1->value() > before + 2; }, 3000))
      << "the ticks no longer follow the clip";
  EXPECT_FALSE(sent_any("seek")) << "a tick's move of the thumb sought";
  EXPECT_FALSE(sent_any("stop")) << "a tick's move of the thumb stopped the clip";
  EXPECT_EQ(beeps, 0);
  // Only a move of the hand seeks.
  forget();
  const int aimed = hold.move_to(form->HScroll1->value() + 40);
  hold.release();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0].command, "seek avfile to " + media::blank_led(aimed));
}

TEST_P(HeldThumb, AfterCloseATickWithTheThumbHeldBeepsOnce) {
  // The failing tick puts the thumb back to 0: it must stand elsewhere first.
  ASSERT_TRUE(wait_until([&] { return form->HScroll1->value() > 2; }, 3000));
  form->mnuclose->trigger();
  form->Timer1->start();  // as a drag after the close would have left it
  forget();
  ThumbDrag hold(*form->HScroll1);
  media::Timer1_Timer(*form);
  EXPECT_EQ(commands(), std::vector<std::string>{"status avfile position"});
  EXPECT_EQ(beeps, 1);
  hold.release();
}

}  // namespace
}  // namespace velmora_test
