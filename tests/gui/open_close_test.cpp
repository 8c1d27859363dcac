// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and closing a clip from the file menu, on the real media service.
#include <QDir>
#include <QFile>

#include "service/media_errors.h"
#include "media/mci.h"
#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

using OpenAndClose = EditionWindow;
VELMORA_FOR_BOTH_EDITIONS(OpenAndClose);

std::string open_command(const std::string& path, const window::Form1& form) {
  return "open " + media::short_path(path) + " alias avfile style child parent " +
         std::to_string(form.Picture1->window_handle());
}

TEST_P(OpenAndClose, FirstOpenSendsItsCommandsInOrderAndBeepsOnceForTheClose) {
  const std::string clip = pane_sized_clip();
  open(clip);
  ASSERT_EQ(filters.size(), 1u);
  EXPECT_EQ(filters[0], QStringLiteral("AVIファイル (*.avi)|*.avi"));
  const std::vector<std::string> expected{"close avfile", open_command(clip, *form),
                                          "put avfile destination at 0 0  320 240",
                                          "status avfile length"};
  EXPECT_EQ(commands(), expected);
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_NE(sent[0].status, 0) << "nothing was open yet";
  EXPECT_EQ(sent[1].status, 0);
  EXPECT_EQ(sent[3].reply, "40");
  EXPECT_EQ(beeps, 1);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(form->HScroll1->maximum(), 40);
  EXPECT_EQ(form->HScroll1->minimum(), 0);
  EXPECT_EQ(form->Label1->text(), QString::fromStdString(clip));
  EXPECT_TRUE(form->Timer1->isActive());
  EXPECT_TRUE(form->Label2->text().isEmpty()) << "the first tick sets it, not the open";
}

TEST_P(OpenAndClose, OpenClearsTheComposite) {
  form->Picture3->set_pixel(1, 1, qRgb(0, 0, 0));
  form->Picture4->set_pixel(2, 2, qRgb(0, 0, 0));
  form->Picture5->set_pixel(3, 3, qRgb(0, 0, 0));
  form->Picture2->set_pixel(4, 4, qRgb(0, 0, 0));
  form->state.click_state = 2;
  form->state.screen_count = 7;
  form->state.cut_x1 = 11;
  open(pane_sized_clip());
  EXPECT_EQ(form->Picture3->pixel(1, 1), qRgb(255, 255, 255));
  EXPECT_EQ(form->Picture4->pixel(2, 2), edition().strip_colour);
  EXPECT_EQ(form->Picture5->pixel(3, 3), edition().strip_colour);
  EXPECT_EQ(form->Picture2->pixel(4, 4), qRgb(255, 255, 255));
  EXPECT_EQ(form->state.click_state, 0);
  EXPECT_EQ(form->state.screen_count, 0);
  EXPECT_EQ(form->state.cut_x1, 11) << "the bounds stay; only the state is reset";
}

// A cancel used to wipe the composite and the band before the dialog even showed.
TEST_P(OpenAndClose, CancelBeepsOnceAndKeepsTheUsersWork) {
  open_quietly(pane_sized_clip());
  form->Command1->click();
  form->Picture3->set_pixel(1, 1, qRgb(9, 9, 9));
  form->Picture4->set_pixel(2, 2, qRgb(0, 0, 0));
  form->state.click_state = 2;
  form->state.screen_count = 3;
  forget();
  open(std::nullopt);
  EXPECT_EQ(beeps, 1);
  EXPECT_TRUE(sent.empty());
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(form->Picture3->pixel(1, 1), qRgb(9, 9, 9));
  EXPECT_EQ(form->Picture4->pixel(2, 2), qRgb(0, 0, 0));
  EXPECT_EQ(form->state.click_state, 2);
  EXPECT_EQ(form->state.screen_count, 3);
  EXPECT_TRUE(form->Command2->isEnabled()) << "the open clip and its buttons stay";
  EXPECT_TRUE(form->Timer1->isActive());
  EXPECT_EQ(position_reply() >= 0, true);
  char reply[256];
  EXPECT_EQ(service::media_service().send_string("status avfile length", reply, 256), 0)
      << "the clip stays open";
}

TEST_P(OpenAndClose, MissingFileShowsTheDescriptionAndChangesNoButton) {
  open(std::string("/nonexistent/folder/gone.avi"));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].command, "open  alias avfile style child parent " +
                                 std::to_string(form->Picture1->window_handle()));
  EXPECT_EQ(beeps, 2) << "the close and the open each beep";
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, QString::fromStdString(sent[1].reply));
  EXPECT_FALSE(messages[0].text.isEmpty());
  EXPECT_EQ(messages[0].style, window::kStyleCritical);
  EXPECT_EQ(messages[0].title, QString::fromStdString(edition().title));
  EXPECT_FALSE(form->Command1->isEnabled());
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_TRUE(form->Label1->text().isEmpty());
}

TEST_P(OpenAndClose, UnplayableFileShowsTheServicesDescription) {
  const QString path = QDir::tempPath() + "/velmora-window-tests-not-a-clip.avi";
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is no video at all");
  }
  open(path.toStdString());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, QString::fromStdString(sent.back().reply));
  EXPECT_NE(sent.back().status, 0);
  EXPECT_EQ(messages[0].style, 16);
  QFile::remove(path);
}

TEST_P(OpenAndClose, SecondClipReplacesTheFirstAndWantsPlayAgain) {
  const clipwriter::ClipSpec other{.frames = 12};
  const std::string second = cached_clip(other);
  open_quietly(pane_sized_clip());
  form->Command1->click();
  forget();
  open(second);
  EXPECT_EQ(beeps, 0) << "the first clip was open, so its close succeeds";
  EXPECT_EQ(sent.front().command, "close avfile");
  EXPECT_EQ(form->HScroll1->maximum(), 12);
  EXPECT_EQ(form->Label1->text(), QString::fromStdString(second));
  EXPECT_TRUE(form->Command1->isEnabled());
  EXPECT_FALSE(form->Command2->isEnabled());
  EXPECT_FALSE(form->Cmd_Reserve->isEnabled());
  EXPECT_FALSE(form->CmdGosei->isEnabled());
  if (form->Cmd_back != nullptr) {
    EXPECT_TRUE(form->Cmd_back->isEnabled());
  }
}

TEST_P(OpenAndClose, FailedOpenAfterAClipLosesTheOldClip) {
  open_quietly(pane_sized_clip());
  open(std::string("/nonexistent/gone.avi"));
  ASSERT_EQ(messages.size(), 1u);
  char reply[256];
  EXPECT_NE(service::media_service().send_string("status avfile position", reply, 256), 0);
  EXPECT_TRUE(form->Timer1->isActive()) << "the timer keeps its state; its tick handles it";
}

TEST_P(OpenAndClose, CloseStopsTheDisplayAndChangesNoButton) {
  open_quietly(pane_sized_clip());
  form->Command1->click();
  media::Timer1_Timer(*form);
  const QString label2 = form->Label2->text();
  forget();
  form->mnuclose->trigger();
  EXPECT_EQ(commands(), std::vector<std::string>{"close avfile"});
  EXPECT_EQ(beeps, 0);
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_TRUE(form->Label1->text().isEmpty());
  EXPECT_EQ(form->Label2->text(), label2);
  EXPECT_TRUE(form->Command1->isEnabled());
  EXPECT_TRUE(form->Command2->isEnabled());
  EXPECT_TRUE(form->HScroll1->isEnabled());
  // Play after close: both of its commands fail, the buttons are set as after any play.
  forget();
  form->Command1->click();
  EXPECT_EQ(beeps, 2);
  EXPECT_TRUE(form->Cmd_Reserve->isEnabled());
}

TEST_P(OpenAndClose, CloseWithNothingOpenBeepsAndStillStops) {
  form->Label1->setText("stale");
  form->Timer1->start();
  form->mnuclose->trigger();
  EXPECT_EQ(beeps, 1);
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_TRUE(form->Label1->text().isEmpty());
}

// A clip longer than the 16-bit range used to half-open: the scroll bar's maximum
// overflowed and the handler stopped with the buttons stale.
TEST_P(OpenAndClose, ClipLongerThan32767FramesOpensFully) {
  const clipwriter::ClipSpec tiny{.width = 8, .height = 8, .frames = 33000, .fps_num = 1000};
  const std::string clip = cached_clip("frame in red", tiny,
                                       [](int frame, int, int) { return uint32_t(frame & 0xff); });
  open(clip);
  EXPECT_EQ(beeps, 1) << "only the close of nothing";
  EXPECT_EQ(form->HScroll1->maximum(), 33000);
  EXPECT_TRUE(form->Timer1->isActive());
  EXPECT_EQ(form->Label1->text(), QString::fromStdString(clip));
  EXPECT_TRUE(form->Command1->isEnabled());
  form->Command1->click();
  forget();
  // The bar has fewer pixels than frames: drag to its right end, one past the last frame.
  ASSERT_EQ(drag_thumb_to(33000), 33000);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0].command, "seek avfile to  33000");
  EXPECT_EQ(sent[0].status, 0);
  media::Timer1_Timer(*form);
  EXPECT_EQ(form->HScroll1->value(), 32999);
  EXPECT_EQ(form->Label2->text(), QStringLiteral("フレーム\n    32999"));
}

TEST_P(OpenAndClose, HandlesAreTheNumbersTheServiceKnows) {
  char reply[256];
  auto& service = service::media_service();
  const std::string clip = media::short_path(pane_sized_clip());
  const std::string wrong = "open " + clip + " alias avfile style child parent " +
                            std::to_string(form->Picture1->window_handle() + 99999);
  EXPECT_NE(service.send_string(wrong.c_str(), reply, 256), 0);
  const std::string right = "open " + clip + " alias avfile style child parent " +
                            std::to_string(form->Picture1->window_handle());
  ASSERT_EQ(service.send_string(right.c_str(), reply, 256), 0);
  const std::string update =
      "update avfile hdc " + std::to_string(form->Picture2->surface_handle());
  EXPECT_EQ(service.send_string(update.c_str(), reply, 256), 0);
  // A pane that is gone is no longer known.
  int32_t gone;
  {
    window::PictureBox pane(Qt::white, nullptr);
    pane.set_pane_size(4, 4);
    gone = pane.surface_handle();
    const std::string paint = "update avfile hdc " + std::to_string(gone);
    EXPECT_EQ(service.send_string(paint.c_str(), reply, 256), 0);
  }
  const std::string paint = "update avfile hdc " + std::to_string(gone);
  EXPECT_NE(service.send_string(paint.c_str(), reply, 256), 0);
}

}  // namespace
}  // namespace velmora_test
