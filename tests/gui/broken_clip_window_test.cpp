// SPDX-License-Identifier: GPL-3.0-or-later
// Broken files chosen in the file dialog, then every button a person would press: a
// message box or a beep as the handlers say, never a crash or a hang.
#include <QTemporaryDir>

#include "tools/clipwriter/broken_clips.h"
#include "tests/gui/window_fixture.h"
#include "tests/support/written.h"

namespace velmora_test {
namespace {

class BrokenClipWindow : public Velmora6Window,
                         public ::testing::WithParamInterface<std::string> {
 protected:
  static void SetUpTestSuite() {
    folder_ = new QTemporaryDir;
    const clipwriter::ClipSpec spec{
        .width = 160, .height = 120, .frames = 24, .fps_num = 25,
        .codec = clipwriter::Codec::mpeg4, .gop = 8, .b_frames = 2};
    auto corpus = clipwriter::write_broken_clips(folder_->path().toStdString(), spec);
    if (!corpus) {
      corpus_written_ = base::failure(corpus.error());
      return;
    }
    for (auto& clip : *corpus) paths_[clip.name] = clip.path;
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }

  void SetUp() override {
    Velmora6Window::SetUp();
    use_quick_ticks();
  }

  int failed_commands() const {
    int failed = 0;
    for (const auto& one : sent) failed += one.status != 0;
    return failed;
  }

  const SentCommand* open_sent() const {
    for (const auto& one : sent)
      if (one.command.rfind("open ", 0) == 0) return &one;
    return nullptr;
  }

  // Every transport button, a drag of the thumb, ticks, a band and a whole composite.
  void use_every_control() {
    form->Command1->click();
    run_events_for(80);
    form->Command2->click();
    form->Command3->click();
    form->Command4->click();
    form->Cmd_Reserve->click();
    // The helper moves the thumb through the API, which a disabled bar would not allow.
    if (form->HScroll1->isEnabled()) drag_thumb_to(form->HScroll1->maximum() / 2);
    run_events_for(250);
    press(form->Picture4, 10, 5);
    press(form->Picture4, 89, 5);
    form->CmdGosei->click();
    run_events_for(50);
  }

  static QTemporaryDir* folder_;
  static base::Status corpus_written_;
  static std::map<std::string, std::string> paths_;
};

QTemporaryDir* BrokenClipWindow::folder_ = nullptr;
base::Status BrokenClipWindow::corpus_written_;
std::map<std::string, std::string> BrokenClipWindow::paths_;

TEST_P(BrokenClipWindow, RefusedWithItsReasonOrPlayedWithoutHarm) {
  ASSERT_TRUE(velmora_test::written(corpus_written_));
  ASSERT_TRUE(paths_.count(GetParam())) << GetParam() << " was not written";
  const std::string path = paths_[GetParam()];
  open(path);
  const SentCommand* opening = open_sent();
  ASSERT_NE(opening, nullptr) << "the chosen file was not opened";

  if (opening->status != 0) {
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].style, window::kStyleCritical);
    EXPECT_EQ(messages[0].title, QStringLiteral("velmora6"));
    EXPECT_FALSE(messages[0].text.isEmpty());
    EXPECT_EQ(messages[0].text.toStdString(), opening->reply) << "the service's own words";
    EXPECT_EQ(beeps, 2) << "one for the close of nothing, one for the refusal";
    EXPECT_FALSE(form->Command1->isEnabled()) << "nothing to play";
    EXPECT_TRUE(form->Label1->text().isEmpty());
    forget();
    use_every_control();  // the buttons are off, so nothing may be sent
    EXPECT_TRUE(sent.empty()) << sent.front().command;
    EXPECT_EQ(beeps, 0);
    return;
  }

  EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
  EXPECT_EQ(form->Label1->text(), QString::fromStdString(path));
  const int length = form->HScroll1->maximum();
  EXPECT_GE(length, 1);
  EXPECT_LE(length, 24) << "no more frames than the file holds";
  use_every_control();
  EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
  EXPECT_EQ(beeps, failed_commands()) << "one beep for each failed command, no more";
  EXPECT_GE(form->HScroll1->value(), 0);
  EXPECT_LE(form->HScroll1->value(), length);
  EXPECT_TRUE(form->Label2->text().startsWith(QStringLiteral("フレーム")));
  EXPECT_GE(form->state.screen_count, 1) << "the composite run made no strip";
  const int position = position_reply();
  EXPECT_GE(position, 0);
  EXPECT_LT(position, length);
  form->mnuclose->trigger();
  EXPECT_FALSE(form->Timer1->isActive());
}

// Not the parameter's own name: gtest names take letters, digits and underscores only.
std::string test_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name)
    if (c == '-') c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, BrokenClipWindow,
                         ::testing::ValuesIn(clipwriter::broken_clip_names()), test_name);

}  // namespace
}  // namespace velmora_test
