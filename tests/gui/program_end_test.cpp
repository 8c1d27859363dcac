// The ways out: the exit item, the window's close and the exit button end the process at
// once. Each case runs in a child process.
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "tests/gui/velmora6_fixture.h"

namespace velmora_test {
namespace {

class ProgramEnd : public Velmora6Window {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Velmora6Window::SetUp();
  }

  // In the child: every command is reported on stderr for the parent's pattern.
  void report_commands() {
    on_command = [](const std::string& command) {
      std::fprintf(stderr, "[sent %s]\n", command.c_str());
    };
  }
};

TEST_F(ProgramEnd, ExitItemClosesTheClipAndEnds) {
  EXPECT_EXIT(
      {
        open_quietly(pane_sized_clip());
        report_commands();
        form->mnuend->trigger();
        std::_Exit(3);  // reached only if the handler came back
      },
      ::testing::ExitedWithCode(0), "\\[sent close avfile\\]");
}

TEST_F(ProgramEnd, ClosingTheWindowRunsTheExitItem) {
  EXPECT_EXIT(
      {
        report_commands();
        form->show();
        form->close();
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(0), "\\[sent close avfile\\]");
}

TEST_F(ProgramEnd, ExitButtonEmptiesTheClipboardAndSendsNothing) {
  EXPECT_EXIT(
      {
        QGuiApplication::clipboard()->setText("someone else's text");
        QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, [] {
          if (QGuiApplication::clipboard()->text().isEmpty())
            std::fprintf(stderr, "[clipboard emptied]\n");
        });
        on_command = [](const std::string&) { std::_Exit(4); };
        form->Cmd_End->click();
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(0), "\\[clipboard emptied\\]");
}

// An exit while another handler waits in a nested event loop: neither that handler nor any
// event queued behind the exit may run afterwards.
TEST_F(ProgramEnd, NoHandlerRunsAfterTheExitNotEvenOneWaitingBelow) {
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
