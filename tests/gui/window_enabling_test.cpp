// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up state, cmd_enabled and the cut direction.
#include <QAction>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

using Enabling = EditionWindow;
VELMORA_FOR_BOTH_EDITIONS(Enabling);

// Enabled states of the controls that start-up, open and play switch on and off, as 1 or
// 0, in one string so that a failure shows the whole row.
std::string enabled_states(const window::Form1& f) {
  auto bit = [](const QWidget* w) { return w->isEnabled() ? '1' : '0'; };
  std::string s;
  s += "play=";
  s += bit(f.Command1);
  s += " transport=";
  for (const QWidget* w :
       std::vector<const QWidget*>{f.Command2, f.Command3, f.Command4, f.Command6, f.HScroll1})
    s += bit(w);
  s += " gosei=";
  s += bit(f.CmdGosei);
  s += " rewind=";
  s += bit(f.Cmd_Reserve);
  s += " back=";
  s += f.Cmd_back != nullptr ? bit(f.Cmd_back) : '-';
  s += " timer=";
  s += f.Timer1->isActive() ? '1' : '0';
  return s;
}

// `want` as the auto-advance window shows it; a window without Cmd_back shows '-' there.
std::string expected(const window::Form1& f, std::string want) {
  if (f.Cmd_back == nullptr) want[want.find("back=") + 5] = '-';
  return want;
}

TEST_P(Enabling, StartUpLeavesEveryControlAsItsTableSays) {
  EXPECT_EQ(enabled_states(*form),
            expected(*form, "play=0 transport=00000 gosei=0 rewind=0 back=0 timer=0"));
  for (QWidget* always :
       std::vector<QWidget*>{form->Cmd_End, form->Frame1, form->Option1, form->Option2})
    EXPECT_TRUE(always->isEnabled()) << always->objectName().toStdString();
  for (QAction* item : {form->mnuopen, form->mnuclose, form->mnuend})
    EXPECT_TRUE(item->isEnabled());
  EXPECT_TRUE(form->Option1->isChecked());
  EXPECT_FALSE(form->Option2->isChecked());
  EXPECT_FALSE(form->Picture4->isHidden());
  EXPECT_TRUE(form->Picture5->isHidden());
  EXPECT_TRUE(form->Label1->text().isEmpty());
  EXPECT_TRUE(form->Label2->text().isEmpty());
  EXPECT_EQ(form->Timer1->interval(), 100);
  const window::WindowState& st = form->state;
  EXPECT_EQ(st.click_state | st.cut_x1 | st.cut_x2 | st.cut_y1 | st.cut_y2 | st.screen_count, 0);
  EXPECT_TRUE(sent.empty()) << "start-up sends no command";
  EXPECT_EQ(beeps, 0);
  EXPECT_TRUE(messages.empty());
}

TEST_F(Velmora6Window, StartUpLeavesTheFramesPerStripBoxEnabledWithOne) {
  EXPECT_TRUE(form->Text1->isEnabled());
  EXPECT_EQ(form->Text1->text(), "1");
}

TEST_P(Enabling, CmdEnabledSwitchesPlayAndTransportAndAlwaysComposite) {
  form->cmd_enabled(false, false);
  EXPECT_EQ(enabled_states(*form),
            expected(*form, "play=0 transport=00000 gosei=1 rewind=0 back=0 timer=0"));
  form->cmd_enabled(true, false);
  EXPECT_EQ(enabled_states(*form),
            expected(*form, "play=1 transport=00000 gosei=1 rewind=0 back=0 timer=0"));
  form->cmd_enabled(false, true);
  EXPECT_EQ(enabled_states(*form),
            expected(*form, "play=0 transport=11111 gosei=1 rewind=0 back=0 timer=0"));
  form->CmdGosei->setEnabled(false);
  form->cmd_enabled(true, true);
  EXPECT_EQ(enabled_states(*form),
            expected(*form, "play=1 transport=11111 gosei=1 rewind=0 back=0 timer=0"));
}

TEST_P(Enabling, OptionsShowOnlyTheStripOfTheirDirection) {
  form->state = {2, 10, 20, 30, 40, 5};
  form->Option2->click();
  EXPECT_TRUE(form->Option2->isChecked());
  EXPECT_FALSE(form->Option1->isChecked());
  EXPECT_TRUE(form->Picture4->isHidden());
  EXPECT_FALSE(form->Picture5->isHidden());
  form->Option2->click();  // idempotent
  EXPECT_TRUE(form->Picture4->isHidden());
  EXPECT_FALSE(form->Picture5->isHidden());
  form->Option1->click();
  EXPECT_TRUE(form->Option1->isChecked());
  EXPECT_FALSE(form->Picture4->isHidden());
  EXPECT_TRUE(form->Picture5->isHidden());
  // Switching clears nothing and sends nothing.
  const window::WindowState& st = form->state;
  EXPECT_EQ(st.click_state, 2);
  EXPECT_EQ(st.cut_x1, 10);
  EXPECT_EQ(st.cut_y2, 40);
  EXPECT_EQ(st.screen_count, 5);
  EXPECT_EQ(enabled_states(*form),
            expected(*form, "play=0 transport=00000 gosei=0 rewind=0 back=0 timer=0"));
  EXPECT_TRUE(sent.empty());
}

TEST_P(Enabling, OptionsKeepTheStripsMarks) {
  form->Picture5->set_pixel(3, 100, qRgb(1, 2, 3));
  form->Option2->click();
  form->Option1->click();
  EXPECT_EQ(form->Picture5->pixel(3, 100), qRgb(1, 2, 3));
}

// The three settled situations between user actions, reached through the real handlers.
TEST_P(Enabling, SettledSituationsThroughOpenAndPlay) {
  const std::string clip = pane_sized_clip();
  EXPECT_EQ(enabled_states(*form),
            expected(*form, "play=0 transport=00000 gosei=0 rewind=0 back=0 timer=0"));
  open(clip);
  EXPECT_EQ(enabled_states(*form),
            expected(*form, "play=1 transport=00000 gosei=0 rewind=0 back=0 timer=1"));
  form->Command1->click();
  EXPECT_EQ(enabled_states(*form),
            expected(*form, "play=1 transport=11111 gosei=1 rewind=1 back=1 timer=1"));
  // Opening again leaves Cmd_back as play left it.
  open(clip);
  EXPECT_EQ(enabled_states(*form),
            expected(*form, "play=1 transport=00000 gosei=0 rewind=0 back=1 timer=1"));
}

}  // namespace
}  // namespace velmora_test
