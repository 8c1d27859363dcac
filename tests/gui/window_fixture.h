// A started window of either edition, wired to its handlers, with its seams replaced by
// recorders, on the real media service; clips come from the clip writer.
#pragma once
#include <gtest/gtest.h>

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRect>
#include <QScrollBar>
#include <QSize>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "clipwriter/clip_writer.h"
#include "editions/layouts.h"
#include "editions/velmora3_edition.h"
#include "editions/velmora6_edition.h"
#include "editions/wiring.h"
#include "host/media_service.h"
#include "media/mci.h"
#include "media/transport.h"
#include "tests/gui/thumb_drag.h"
#include "window/form1.h"
#include "window/seams.h"

namespace velmora_test {

struct SentCommand {
  std::string command;
  int32_t status;
  std::string reply;
};

struct ShownMessage {
  QString text;
  int style;
  QString title;
};

// Runs the event loop until `done` holds or `ms` have passed.
inline bool wait_until(const std::function<bool()>& done, int ms = 3000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return done();
}

inline void run_events_for(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
}

// Clips are written once into a folder that the test processes share; a clip is written
// under a name of its own and renamed into place, so two processes never see half a file.
// `name` must change whenever the clip's settings or the painter do.
inline std::string clip_path(const std::string& name, const clipwriter::ClipSpec& spec,
                             const clipwriter::Painter& painter = clipwriter::test_pattern) {
  const QString folder = QDir::tempPath() + "/velmora-window-test-clips";
  QDir().mkpath(folder);
  const QString path = folder + "/" + QString::fromStdString(name);
  if (QFileInfo::exists(path)) return path.toStdString();
  const QString part = path + "." + QString::number(QCoreApplication::applicationPid());
  const std::string error = clipwriter::write_avi(part.toStdString(), spec, painter);
  if (!error.empty()) {
    ADD_FAILURE() << "the clip writer failed: " << error;
    QFile::remove(part);
  } else if (!QFile::rename(part, path)) {
    QFile::remove(part);  // another process was quicker with the same clip
  }
  return path.toStdString();
}

// 320 x 240 like the video pane, raw RGB so that every pixel arrives exactly.
inline std::string pane_sized_clip() {
  clipwriter::ClipSpec spec;
  spec.frames = 40;
  return clip_path("pane sized 320x240 40 rgb v1.avi", spec);
}

// An edition as the tests see it: how to build it, and what its window must look like,
// written down from the window's description rather than read back from its table.
struct Edition {
  std::string title;  // the message boxes' title, and the test name's suffix
  window::Layout (*layout)();
  editions::Handlers (*handlers)();
  QString caption;
  QSize client;                                            // pixels
  QRect picture1, picture2, picture3, picture4, picture5;  // after start-up
  QRgb strip_colour;
  double position_points;  // Label2's size
};

inline const Edition kVelmora6{"velmora6",
                               editions::velmora6_layout,
                               editions::velmora6_handlers,
                               QStringLiteral("Velmora "),
                               {784, 455},
                               {40, 40, 320, 240},
                               {32, 456, 320, 240},
                               {424, 40, 320, 240},
                               {40, 280, 320, 23},
                               {360, 40, 25, 240},
                               qRgb(192, 255, 192),
                               11.25};

inline const Edition kVelmora3{"velmora3",
                               editions::velmora3_layout,
                               editions::velmora3_handlers,
                               QStringLiteral("Velmora by Oskedal"),
                               {927, 357},
                               {224, 40, 320, 240},
                               {224, 360, 320, 240},
                               {584, 40, 320, 240},
                               {224, 288, 320, 20},
                               {552, 40, 25, 240},
                               qRgb(224, 224, 224),
                               12};

// Failures name the edition rather than dump its bytes.
inline void PrintTo(const Edition& edition, std::ostream* out) { *out << edition.title; }

inline std::string edition_name(const ::testing::TestParamInfo<Edition>& info) {
  return info.param.title;
}

// The window of one edition; velmora6's unless a parameterised test names another.
class WindowOfEdition : public ::testing::Test {
 protected:
  virtual const Edition& edition() const { return kVelmora6; }

  void SetUp() override {
    auto& seams = window::seams();
    seams.beep = [this] { ++beeps; };
    seams.message_box = [this](const QString& text, int style, const QString& title) {
      messages.push_back({text, style, title});
    };
    seams.open_file = [this](const QString& filter) -> std::optional<QString> {
      filters.push_back(filter);
      std::optional<QString> next;
      if (!choices.empty()) {
        next = choices.front();
        choices.pop_front();
      }
      return next;
    };
    media::set_command_listener(
        [this](const std::string& command, int32_t status, const std::string& reply) {
          sent.push_back({command, status, reply});
          if (on_command) on_command(command);
        });
    form = std::make_unique<window::Form1>(edition().layout());
    editions::wire(*form, edition().handlers());
    form->startup();
  }

  void TearDown() override {
    media::set_command_listener({});
    char reply[256];
    host::media_service().send_string("close avfile", reply, sizeof reply);
    form.reset();
    window::reset_seams();
  }

  // The file menu's open with `path` (or a cancel) as the user's choice.
  void open(const std::optional<std::string>& path) {
    choices.push_back(path ? std::optional<QString>(QString::fromStdString(*path)) : std::nullopt);
    form->mnuopen->trigger();
  }

  // Opens a clip and forgets what that took.
  void open_quietly(const std::string& path) {
    open(path);
    forget();
  }

  void forget() {
    sent.clear();
    beeps = 0;
    messages.clear();
  }

  std::vector<std::string> commands() const {
    std::vector<std::string> texts;
    for (const auto& one : sent) texts.push_back(one.command);
    return texts;
  }

  // A drag of HScroll1's thumb to `position` with the mouse; returns where it came to.
  int drag_thumb_to(int position) { return drag_thumb(*form->HScroll1, position); }

  int position_reply() {
    char reply[256];
    host::media_service().send_string("status avfile position", reply, sizeof reply);
    return std::atoi(reply);
  }

  std::unique_ptr<window::Form1> form;
  int beeps = 0;
  std::vector<ShownMessage> messages;
  std::vector<QString> filters;
  std::deque<std::optional<QString>> choices;
  std::vector<SentCommand> sent;
  std::function<void(const std::string&)> on_command;
};

// The auto-advance window only: for what the other edition does not have.
using Velmora6Window = WindowOfEdition;

class Velmora3Window : public WindowOfEdition {
 protected:
  const Edition& edition() const override { return kVelmora3; }
};

// Shared behaviour: a TEST_P on this fixture runs against both editions.
class EditionWindow : public WindowOfEdition, public ::testing::WithParamInterface<Edition> {
 protected:
  const Edition& edition() const override { return GetParam(); }
};

#define VELMORA_FOR_BOTH_EDITIONS(fixture) \
  INSTANTIATE_TEST_SUITE_P(Editions, fixture, ::testing::Values(kVelmora6, kVelmora3), edition_name)

}  // namespace velmora_test
