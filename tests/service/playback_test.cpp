// SPDX-License-Identifier: GPL-3.0-or-later
// Playing on the service's own thread: pace, halting, and windows that come and go.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <thread>

#include "service/media_errors.h"
#include "service/playback.h"
#include "service_fixture.h"

namespace service {
namespace {

using namespace std::chrono_literals;
using velmora_test::frame_of;
using velmora_test::open_command;
using velmora_test::position;
using velmora_test::RecordingWindow;
using velmora_test::send;
using velmora_test::wait_for;

// 25 frames a second, small enough that decoding never sets the pace.
std::string paced_clip() {
  const clipwriter::ClipSpec spec{.width = 64, .height = 48, .frames = 200, .fps_num = 25};
  return velmora_test::cached_clip(spec);
}

// 100 frames a second and short, to reach the end soon.
std::string quick_clip() {
  const clipwriter::ClipSpec spec{.width = 64, .height = 48, .frames = 30, .fps_num = 100};
  return velmora_test::cached_clip(spec);
}

int shown_frame(const RecordingWindow& window) {
  auto picture = window.last();
  return picture && !picture->pixels.empty() ? frame_of(picture->pixels[0]) : -1;
}

class Playback : public ::testing::Test {
 protected:
  void SetUp() override { service.register_window(1, &window); }
  void TearDown() override {
    send(service, "close avfile");
    service.unregister_window(1);
  }
  void open(const std::string& path) {
    ASSERT_EQ(send(service, open_command(path, "avfile", "1")).status, 0);
  }

  MediaService service;
  RecordingWindow window;
};

TEST_F(Playback, PlayReturnsAtOnceAndAdvancesAtTheFrameRate) {
  open(paced_clip());
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(send(service, "play avfile window").status, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
  // A second of the clip; the time it took is what the pace is judged by.
  ASSERT_TRUE(wait_for([&] { return position(service) >= 25; }, 20s));
  ASSERT_EQ(send(service, "pause avfile").status, 0);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const double expected = 25.0 * std::chrono::duration<double>(elapsed).count();
  const int64_t reached = position(service);
  // Loose bounds: a busy machine is late, but never plays ahead of the clock.
  EXPECT_GE(reached, expected * 0.3);
  EXPECT_LE(reached, expected + 2);
}

TEST_F(Playback, PauseAndStopHaltOnTheFrameShown) {
  open(paced_clip());
  for (const char* halt : {"pause avfile", "stop avfile"}) {
    ASSERT_EQ(send(service, "play avfile window").status, 0);
    const int64_t from = position(service);
    ASSERT_TRUE(wait_for([&] { return position(service) >= from + 3; })) << halt;
    ASSERT_EQ(send(service, halt).status, 0);
    const int64_t halted = position(service);
    EXPECT_EQ(shown_frame(window), halted) << halt;
    const int shown = window.pictures();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(position(service), halted) << halt << " rewound or went on";
    EXPECT_EQ(window.pictures(), shown) << halt;
  }
}

TEST_F(Playback, PlaysFromTheCurrentFrame) {
  open(paced_clip());
  ASSERT_EQ(send(service, "seek avfile to 150").status, 0);
  ASSERT_EQ(send(service, "play avfile window").status, 0);
  EXPECT_EQ(shown_frame(window), 150);
  ASSERT_TRUE(wait_for([&] { return position(service) > 150; }));
  send(service, "pause avfile");
  EXPECT_GT(position(service), 150);
}

TEST_F(Playback, HaltsOnTheLastFrameAtTheEnd) {
  open(quick_clip());
  ASSERT_EQ(send(service, "play avfile window").status, 0);
  ASSERT_TRUE(wait_for([&] { return position(service) == 29; }));
  ASSERT_TRUE(wait_for([&] { return shown_frame(window) == 29; }));
  const int shown = window.pictures();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(position(service), 29);
  EXPECT_EQ(window.pictures(), shown);
  // Play at the end shows the last frame again and stays there.
  ASSERT_EQ(send(service, "play avfile window").status, 0);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(position(service), 29);
  EXPECT_EQ(shown_frame(window), 29);
}

TEST_F(Playback, StepAndSeekStopPlaybackFirst) {
  open(paced_clip());
  for (const char* move : {"step avfile", "step avfile reverse", "seek avfile to 3"}) {
    ASSERT_EQ(send(service, "play avfile window").status, 0);
    ASSERT_EQ(send(service, move).status, 0) << move;
    const int64_t after = position(service);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(position(service), after) << move << " left the clip playing";
    EXPECT_EQ(shown_frame(window), after) << move;
  }
}

TEST_F(Playback, AnsweringStaysQuickWhilePlaying) {
  open(paced_clip());
  ASSERT_EQ(send(service, "play avfile window").status, 0);
  auto slowest = std::chrono::steady_clock::duration::zero();
  for (int i = 0; i < 50; ++i) {
    const auto t = std::chrono::steady_clock::now();
    send(service, "status avfile position");
    slowest = std::max(slowest, std::chrono::steady_clock::now() - t);
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_LT(slowest, 250ms);
}

TEST_F(Playback, CloseWhilePlayingHidesAndStopsShowing) {
  open(paced_clip());
  ASSERT_EQ(send(service, "play avfile window").status, 0);
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(send(service, "close avfile").status, 0);
  window.gone = true;
  EXPECT_EQ(window.hides(), 1);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(window.calls_after_gone, 0);
}

TEST(PlaybackWindows, PlaysWithoutAnyWindow) {
  MediaService service;
  ASSERT_EQ(send(service, open_command(paced_clip())).status, 0);
  ASSERT_EQ(send(service, "play avfile window").status, 0);
  EXPECT_TRUE(wait_for([&] { return position(service) >= 2; }));
  EXPECT_EQ(send(service, "close avfile").status, 0);
}

TEST(PlaybackWindows, UnregisteringWhilePlayingIsFinal) {
  MediaService service;
  const std::string path = paced_clip();
  for (int round = 0; round < 15; ++round) {
    RecordingWindow window;
    service.register_window(77, &window);
    ASSERT_EQ(send(service, open_command(path, "avfile", "77")).status, 0);
    ASSERT_EQ(send(service, "play avfile window").status, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * round));
    service.unregister_window(77);
    window.gone = true;
    std::this_thread::sleep_for(60ms);  // a couple of frames that must go nowhere
    EXPECT_EQ(window.calls_after_gone, 0) << "round " << round;
    EXPECT_EQ(send(service, "close avfile").status, 0);
    EXPECT_EQ(window.calls_after_gone, 0) << "close showed into an unregistered window";
  }
}

TEST(PlaybackWindows, ReplacingAWindowMovesTheVideo) {
  MediaService service;
  RecordingWindow first, second;
  service.register_window(5, &first);
  ASSERT_EQ(send(service, open_command(paced_clip(), "avfile", "5")).status, 0);
  ASSERT_EQ(send(service, "play avfile window").status, 0);
  service.register_window(5, &second);
  first.gone = true;
  ASSERT_TRUE(wait_for([&] { return second.pictures() > 0; }));
  send(service, "close avfile");
  EXPECT_EQ(first.calls_after_gone, 0);
}

TEST(PlaybackLifetime, AServiceGoingAwayWhilePlayingStopsItsThreads) {
  RecordingWindow window;
  {
    MediaService service;
    service.register_window(1, &window);
    ASSERT_EQ(send(service, open_command(paced_clip(), "a", "1")).status, 0);
    ASSERT_EQ(send(service, open_command(paced_clip(), "b", "1")).status, 0);
    ASSERT_EQ(send(service, "play a window").status, 0);
    ASSERT_EQ(send(service, "play b window").status, 0);
    std::this_thread::sleep_for(50ms);
  }
  window.gone = true;
  std::this_thread::sleep_for(80ms);
  EXPECT_EQ(window.calls_after_gone, 0);
}

// A Session member called without the service's lock, or with another one, ends the
// process instead of racing the playback thread.
TEST(PlaybackLock, MembersTakeOnlyTheServicesLockHeld) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Clip::Opened opened = Clip::open(quick_clip());
  ASSERT_NE(opened.clip, nullptr) << opened.detail;
  std::mutex service_lock, other_lock;
  Session session(std::move(opened.clip), std::nullopt, service_lock,
                  [](int32_t) -> VideoWindow* { return nullptr; });
  Session::Held not_locked(service_lock, std::defer_lock);
  EXPECT_DEATH(session.position(not_locked), "without the media service's lock");
  Session::Held other(other_lock);
  EXPECT_DEATH(session.step(false, other), "without the media service's lock");
  Session::Held held(service_lock);
  EXPECT_EQ(session.step(false, held), MediaStatus::ok);
  EXPECT_EQ(session.position(held), 1);
}

// The one service of the process is a static: leaving the program while a clip plays must
// stop its thread, not hang or crash the exit.
void exit_while_playing(const std::string& path) {
  ::alarm(10);  // a hang ends in SIGALRM, which the test reports
  MediaService& service = media_service();
  static RecordingWindow window;  // outlives the service, like a window that unregisters late
  service.register_window(1, &window);
  if (send(service, open_command(path, "avfile", "1")).status != 0) std::_Exit(3);
  if (send(service, "play avfile window").status != 0) std::_Exit(4);
  std::this_thread::sleep_for(100ms);
  std::exit(0);
}

TEST(PlaybackLifetime, TheProgramsServiceLetsTheProgramEndWhilePlaying) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string path = paced_clip();
  EXPECT_EXIT(exit_while_playing(path), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace service
