// SPDX-License-Identifier: GPL-3.0-or-later
// The ways out: the exit item, the window's close and the exit button end the process at
// once. Each case runs in a child process.
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

template <class Window>
class EndOf : public Window {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Window::SetUp();
  }

  // In the child: every command is reported on stderr for the parent's pattern.
  void report_commands() {
    this->on_command = [](const std::string& command) {
      std::fprintf(stderr, "[sent %s]\n", command.c_str());
    };
  }

  // In the child: another program's text is on the clipboard and `on_change` hears every
  // change to it; a command sent ends the child with `code_if_sent`. Then the exit button.
  void press_exit_over_someone_elses_text(const std::function<void()>& on_change,
                                          int code_if_sent) {
    QGuiApplication::clipboard()->setText("someone else's text");
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, on_change);
    this->on_command = [code_if_sent](const std::string&) { std::_Exit(code_if_sent); };
    this->form->Cmd_End->click();
    std::_Exit(3);  // reached only if the handler came back
  }
};

using ProgramEnd = EndOf<EditionWindow>;
using ProgramEndOfVelmora6 = EndOf<Velmora6Window>;
using ProgramEndOfVelmora3 = EndOf<Velmora3Window>;
VELMORA_FOR_BOTH_EDITIONS(ProgramEnd);

TEST_P(ProgramEnd, ExitItemClosesTheClipAndEnds) {
  EXPECT_EXIT(
      {
        open_quietly(pane_sized_clip());
        report_commands();
        form->mnuend->trigger();
        std::_Exit(3);  // reached only if the handler came back
      },
      ::testing::ExitedWithCode(0), "\\[sent close avfile\\]");
}

TEST_P(ProgramEnd, ClosingTheWindowRunsTheExitItem) {
  EXPECT_EXIT(
      {
        report_commands();
        form->show();
        form->close();
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(0), "\\[sent close avfile\\]");
}

TEST_F(ProgramEndOfVelmora6, ExitButtonEmptiesTheClipboardAndSendsNothing) {
  EXPECT_EXIT(press_exit_over_someone_elses_text(
                  [] {
                    if (QGuiApplication::clipboard()->text().isEmpty())
                      std::fprintf(stderr, "[clipboard emptied]\n");
                  },
                  4),
              ::testing::ExitedWithCode(0), "\\[clipboard emptied\\]");
}

// The manual-advance edition never uses the clipboard: what another program put there stays.
TEST_F(ProgramEndOfVelmora3, ExitButtonEndsAtOnceLeavingClipAndClipboard) {
  EXPECT_EXIT(
      {
        open_quietly(pane_sized_clip());
        press_exit_over_someone_elses_text([] { std::_Exit(4); }, 5);
      },
      ::testing::ExitedWithCode(0), "");
}

// An exit while another handler waits in a nested event loop: neither that handler nor any
// event queued behind the exit may run afterwards.
TEST_P(ProgramEnd, NoHandlerRunsAfterTheExitNotEvenOneWaitingBelow) {
  EXPECT_EXIT(
      {
        QTimer::singleShot(0, form.get(), [this] {
          QTimer::singleShot(0, form.get(), [this] {
            QTimer::singleShot(0, [] { std::_Exit(5); });  // queued behind the exit
            form->mnuend->trigger();
          });
          QEventLoop nested;  // as the composite builder yields between strips
          QTimer::singleShot(200, &nested, &QEventLoop::quit);
          nested.exec();
          std::_Exit(6);  // the waiting handler must never resume
        });
        QEventLoop outer;
        QTimer::singleShot(1000, &outer, &QEventLoop::quit);
        outer.exec();
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace velmora_test
