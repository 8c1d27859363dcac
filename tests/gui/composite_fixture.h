// A started auto-advance window with the composite handlers, recorded message boxes and,
// where a test needs one, a real RGB clip open in the media service.
#pragma once
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "clipwriter/clip_writer.h"
#include "editions/layouts.h"
#include "host/tick.h"
#include "media/mci.h"
#include "media/open_close.h"
#include "window/form1.h"
#include "window/seams.h"

namespace composite_test {

constexpr uint32_t kWhite = 0xffffffffu;
constexpr int kClipFrames = 40;

// Every pixel tells its frame and place: red carries the frame and x's high bit, green the
// rest of x, blue y (frames below 128, panes up to 512 x 256).
inline uint32_t clip_colour(int frame, int x, int y) {
  return uint32_t((frame * 2 + (x >> 8)) & 0xff) << 16 | uint32_t(x & 0xff) << 8 | uint32_t(y & 0xff);
}

// What the capture pane shows of `frame` at (x, y): the clip's colour, white beyond it.
inline uint32_t frame_pixel(int frame, int x, int y) {
  if (x < 0 || y < 0 || x >= 320 || y >= 240) return kWhite;
  return clip_colour(frame, x, y) | 0xff000000u;
}

struct Message {
  QString text;
  int style;
  QString title;
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = std::make_unique<window::Form1>(editions::velmora6_layout());
    form->startup();
    auto& seams = window::seams();
    seams.beep = [this] { ++beeps; };
    seams.message_box = [this](const QString& text, int style, const QString& title) {
      messages.push_back({text, style, title});
    };
  }
  void TearDown() override {
    form.reset();
    window::reset_seams();
    host::set_tick_source({});
  }

  // Whether every pixel of `pane` is `colour`.
  static bool plain(const window::PictureBox& pane, uint32_t colour) {
    const QImage& image = pane.image();
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (pane.pixel(x, y) != colour) return false;
    return true;
  }

  std::unique_ptr<window::Form1> form;
  std::vector<Message> messages;
  int beeps = 0;
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

class ClipTest : public WindowTest {
 protected:
  static void SetUpTestSuite() {
    clip_path_ = QDir::temp().filePath(QStringLiteral("velmora-composite-test-%1.avi")
                                           .arg(QCoreApplication::applicationPid()))
                     .toStdString();
    clipwriter::ClipSpec spec;
    spec.frames = kClipFrames;
    spec.codec = clipwriter::Codec::rgb;
    clip_error_ = clipwriter::write_avi(clip_path_, spec, clip_colour);
  }
  static void TearDownTestSuite() { QFile::remove(QString::fromStdString(clip_path_)); }

  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_EQ(clip_error_, "");
    window::seams().open_file = [](const QString&) {
      return std::optional<QString>(QString::fromStdString(clip_path_));
    };
    media::mnuopen_Click(*form);
    ASSERT_TRUE(messages.empty()) << messages.front().text.toStdString();
    // Play would move the clip on by itself; the buttons are what it would leave.
    form->cmd_enabled(true, true);
    // Each read of the tick count lands in a new slot: pacing costs no real time.
    host::set_tick_source([this] { return ticks += 300; });
    QGuiApplication::clipboard()->clear();
  }
  void TearDown() override {
    std::string reply;
    media::mci_command("close avfile", reply);
    WindowTest::TearDown();
  }

  int32_t position() {
    std::string reply;
    media::mci_command("status avfile position", reply);
    return std::stoi(reply);
  }

  static std::string clip_path_;
  static std::string clip_error_;
  int32_t ticks = 0;
};

inline std::string ClipTest::clip_path_;
inline std::string ClipTest::clip_error_;

}  // namespace composite_test
