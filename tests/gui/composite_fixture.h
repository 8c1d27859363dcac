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
#include <cstdio>
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
  return uint32_t((frame * 2 + (x >> 8)) & 0xff) << 16 | uint32_t(x & 0xff) << 8 |
         uint32_t(y & 0xff);
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
  // One clip for every test process, written once and kept: processes that end without
  // their tear-down (an exit under test) leave nothing behind. Written under a name of its
  // own and renamed, so that processes running side by side never read half a file.
  static void SetUpTestSuite() {
    const QString path =
        QDir::temp().filePath(QStringLiteral("velmora-composite-test-v1-%1f.avi").arg(kClipFrames));
    clip_path_ = path.toStdString();
    clip_error_.clear();
    if (QFile::exists(path)) return;
    const QString part = path + QStringLiteral(".%1.part").arg(QCoreApplication::applicationPid());
    clipwriter::ClipSpec spec;
    spec.frames = kClipFrames;
    spec.codec = clipwriter::Codec::rgb;
    clip_error_ = clipwriter::write_avi(part.toStdString(), spec, clip_colour);
    if (clip_error_.empty() && std::rename(part.toLocal8Bit().constData(), clip_path_.c_str()) != 0)
      clip_error_ = "cannot rename " + part.toStdString();
  }

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
