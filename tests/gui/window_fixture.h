// SPDX-License-Identifier: GPL-3.0-or-later
// A started window of either edition, wired to its handlers, with its seams replaced by
// recorders, on the real media service; the clips it opens come from the clip cache. Also
// what the composite tests compare against: the pixels a strip must show.
#pragma once
#include <gtest/gtest.h>

#include <QClipboard>
#include <QColor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRect>
#include <QScrollBar>
#include <QSize>
#include <QThread>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/clipwriter/clip_writer.h"
#include "editions/layouts.h"
#include "editions/velmora3_edition.h"
#include "editions/velmora6_edition.h"
#include "editions/wiring.h"
#include "service/media_service.h"
#include "service/tick.h"
#include "media/mci.h"
#include "media/transport.h"
#include "tests/gui/thumb_drag.h"
#include "tests/support/clips.h"
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

// 320 x 240 like the video pane, raw RGB so that every pixel arrives exactly; the test
// pattern. Its file name has blanks, so every open through the window crosses short_path.
inline std::string pane_sized_clip() {
  return cached_clip("pane sized", clipwriter::ClipSpec{.frames = 40}, clipwriter::test_pattern);
}

// The composite tests' clip: pane-sized raw RGB too, but painted by clip_colour below.
inline constexpr int kClipFrames = 40;
inline constexpr uint32_t kWhite = 0xffffffffu;

// Every pixel tells its frame and place: red carries the frame and x's high bit, green the
// rest of x, blue y (frames below 128, panes up to 512 x 256).
inline uint32_t clip_colour(int frame, int x, int y) {
  return uint32_t((frame * 2 + (x >> 8)) & 0xff) << 16 | uint32_t(x & 0xff) << 8 |
         uint32_t(y & 0xff);
}

inline std::string composite_clip() {
  return cached_clip("frame and place", clipwriter::ClipSpec{.frames = kClipFrames},
                     clip_colour);
}

// What the capture pane shows of `frame` at (x, y): the clip's colour, white beyond it.
inline uint32_t frame_pixel(int frame, int x, int y) {
  if (x < 0 || y < 0 || x >= 320 || y >= 240) return kWhite;
  return clip_colour(frame, x, y) | 0xff000000u;
}

// The composite a run leaves when strips start `w` apart from `first`, strip k showing
// frame frame_of(k) and strips 0 .. last drawn: line i comes from strip i / w (the later
// strip wins where two meet), at line first + i % w of that strip's frame.
inline QImage expected_vertical(int first, int w, int last,
                                const std::function<int(int)>& frame_of) {
  QImage image(320, 240, QImage::Format_RGB32);
  image.fill(Qt::white);
  for (int x = 0; x < 320; ++x) {
    int k = w == 0 ? last : x / w;
    int j = w == 0 ? 0 : x % w;
    if (k > last) {  // the line after the last strip: its own last line
      if (x > last * w + w) continue;
      k = last;
      j = w;
    }
    if (w == 0 && x > 0) continue;
    for (int y = 0; y < 240; ++y) image.setPixel(x, y, frame_pixel(frame_of(k), first + j, y));
  }
  return image;
}

inline QImage expected_horizontal(int first, int w, int last,
                                  const std::function<int(int)>& frame_of) {
  QImage image(320, 240, QImage::Format_RGB32);
  image.fill(Qt::white);
  for (int y = 0; y < 240; ++y) {
    int k = y / w, j = y % w;
    if (k > last) {
      if (y > last * w + w) continue;
      k = last;
      j = w;
    }
    for (int x = 0; x < 320; ++x) image.setPixel(x, y, frame_pixel(frame_of(k), x, first + j));
  }
  return image;
}

// First differing pixel, for readable failures.
inline std::string difference(const QImage& got, const QImage& want) {
  if (got.size() != want.size()) return "sizes differ";
  for (int y = 0; y < want.height(); ++y)
    for (int x = 0; x < want.width(); ++x)
      if ((got.pixel(x, y) | 0xff000000u) != (want.pixel(x, y) | 0xff000000u)) {
        return "first difference at " + std::to_string(x) + "," + std::to_string(y) + ": got " +
               std::to_string(got.pixel(x, y)) + ", want " + std::to_string(want.pixel(x, y));
      }
  return "";
}

// Whether every pixel of `pane` is `colour`.
inline bool plain(const window::PictureBox& pane, uint32_t colour) {
  const QImage& image = pane.image();
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (pane.pixel(x, y) != colour) return false;
  return true;
}

// An edition as the tests see it: how to build it, and where its panes must stand and how
// they look, written out here so that a changed table shows up as a failure.
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
    service::media_service().send_string("close avfile", reply, sizeof reply);
    form.reset();
    window::reset_seams();
    service::set_tick_source({});
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

  // A press of the left mouse button on `pane` at (x, y), as the window system sends it.
  static void press(window::PictureBox* pane, double x, double y) {
    QMouseEvent event(QEvent::MouseButtonPress, QPointF(x, y), QPointF(x, y), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(pane, &event);
  }

  // Each read of the tick count lands in a new slot: pacing costs no real time.
  void use_quick_ticks() {
    service::set_tick_source([this] { return ticks += 300; });
  }

  int position_reply() {
    char reply[256];
    service::media_service().send_string("status avfile position", reply, sizeof reply);
    return std::atoi(reply);
  }

  std::unique_ptr<window::Form1> form;
  int beeps = 0;
  std::vector<ShownMessage> messages;
  std::vector<QString> filters;
  std::deque<std::optional<QString>> choices;
  std::vector<SentCommand> sent;
  std::function<void(const std::string&)> on_command;
  int32_t ticks = 0;
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

// A window of `Base` with the composite tests' clip open, the buttons as play would leave
// them without the clip moving by itself, quick ticks and an empty clipboard.
template <class Base>
class WithCompositeClip : public Base {
 protected:
  void SetUp() override {
    Base::SetUp();
    this->open(composite_clip());
    ASSERT_TRUE(this->messages.empty()) << this->messages.front().text.toStdString();
    this->form->cmd_enabled(true, true);
    this->use_quick_ticks();
    QGuiApplication::clipboard()->clear();
  }
};

// Runs `hook` at every turn of the event loop while a run yields, until it returns false.
class YieldHook {
 public:
  explicit YieldHook(std::function<bool()> hook) : hook_(std::move(hook)) {
    timer_.setInterval(0);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (!hook_()) timer_.stop();
    });
    timer_.start();
  }

 private:
  std::function<bool()> hook_;
  QTimer timer_;
};

}  // namespace velmora_test
