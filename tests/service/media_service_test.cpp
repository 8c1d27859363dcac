// SPDX-License-Identifier: GPL-3.0-or-later
// The service as the program drives it: opening, moving, painting, and what it refuses.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "service/media_errors.h"
#include "service_fixture.h"

namespace service {
namespace {

using velmora_test::BufferSurface;
using velmora_test::frame_of;
using velmora_test::open_command;
using velmora_test::position;
using velmora_test::RecordingWindow;
using velmora_test::send;

constexpr auto code = [](MediaStatus s) { return static_cast<int32_t>(s); };

// What the program sends while a clip is open, each as it builds it.
const char* const kClipCommands[] = {
    "close avfile",           "put avfile destination at 0 0  320 240",
    "status avfile length",   "play avfile window",
    "pause avfile",           "stop avfile",
    "update avfile hdc 7",    "step avfile",
    "step avfile reverse",    "seek avfile to  0",
    "status avfile position",
};

void expect_nothing_open(MediaService& service, const std::string& alias = "avfile") {
  EXPECT_EQ(send(service, "status " + alias + " length").status,
            code(MediaStatus::no_clip_under_alias));
}

TEST(ServiceBeforeOpen, EveryCommandSaysNoClipAndRepliesNothing) {
  MediaService service;
  BufferSurface surface(8, 8);
  service.register_surface(7, &surface);
  for (const char* command : kClipCommands) {
    const auto r = send(service, command);
    EXPECT_EQ(r.status, code(MediaStatus::no_clip_under_alias)) << command;
    EXPECT_EQ(r.text, "") << command;
  }
  EXPECT_EQ(surface.painted_count(), 0);
}

TEST(ServiceOpen, EveryRowAsSentWithAnOpenClip) {
  MediaService service;
  RecordingWindow window;
  BufferSurface surface(320, 240);
  service.register_window(12, &window);
  service.register_surface(7, &surface);
  ASSERT_EQ(send(service, open_command(velmora_test::rgb_clip(), "avfile", "12")).status, 0);
  for (const char* command : kClipCommands) {
    if (std::string(command) == "close avfile") continue;
    const auto r = send(service, command);
    EXPECT_EQ(r.status, 0) << command << ": " << r.text;
  }
  EXPECT_EQ(send(service, "status avfile length").text, "30");
  EXPECT_EQ(send(service, "close avfile").status, 0);
  expect_nothing_open(service);
}

TEST(ServiceOpen, FailuresLeaveNothingOpen) {
  MediaService service;
  const auto dir = velmora_test::scratch_dir();
  const std::string empty = (dir / "empty.avi").string();
  std::ofstream(empty).close();
  const std::string text = (dir / "notes.avi").string();
  std::ofstream(text) << "this is not a clip at all, only a few words of text\n";

  struct Case {
    std::string command;
    MediaStatus status;
  };
  const Case cases[] = {
      {"open " + (dir / "missing.avi").string() + " alias avfile", MediaStatus::no_such_file},
      {"open bad%zzname alias avfile", MediaStatus::no_such_file},
      {"open truncated% alias avfile", MediaStatus::no_such_file},
      {"open %00 alias avfile", MediaStatus::no_such_file},
      {open_command(empty), MediaStatus::unreadable_file},
      {open_command(text), MediaStatus::not_playable},
      {open_command(velmora_test::rgb_clip(), "avfile", "404"), MediaStatus::no_such_window},
  };
  for (const auto& c : cases) {
    const auto r = send(service, c.command);
    EXPECT_EQ(r.status, code(c.status)) << c.command;
    expect_nothing_open(service);
  }
  // A folder is no clip either, whatever the decoder calls it.
  EXPECT_NE(send(service, open_command(dir.string())).status, 0);
  expect_nothing_open(service);
}

TEST(ServiceOpen, AnAliasHoldsOneClipUntilClosed) {
  MediaService service;
  const std::string path = velmora_test::rgb_clip();
  ASSERT_EQ(send(service, open_command(path)).status, 0);
  EXPECT_EQ(send(service, open_command(path)).status, code(MediaStatus::alias_in_use));
  EXPECT_EQ(send(service, open_command(path, "AVFILE")).status, code(MediaStatus::alias_in_use));
  // Another alias is another clip, moved on its own.
  ASSERT_EQ(send(service, open_command(path, "other")).status, 0);
  EXPECT_EQ(send(service, "seek other to 5").status, 0);
  EXPECT_EQ(position(service, "other"), 5);
  EXPECT_EQ(position(service, "avfile"), 0);
  EXPECT_EQ(send(service, "close avfile").status, 0);
  EXPECT_EQ(send(service, "close avfile").status, code(MediaStatus::no_clip_under_alias));
  EXPECT_EQ(send(service, open_command(path)).status, 0);
  EXPECT_EQ(send(service, "close other").status, 0);
}

TEST(ServiceOpen, OpensRealClipsWithTheirFrameCounts) {
  MediaService service;
  const std::string dir = std::string(VELMORA_TESTDATA) + "/avi/";
  const std::pair<const char*, const char*> clips[] = {
      {"100_0306.AVI", "41"}, {"MVI_4823.AVI", "78"}, {"MFC2.AVI", "40"},
      {"filecopy.avi", "17"}, {"dillo.avi", "71"},
  };
  for (const auto& [name, frames] : clips) {
    ASSERT_EQ(send(service, open_command(dir + name)).status, 0) << name;
    EXPECT_EQ(send(service, "status avfile length").text, frames) << name;
    EXPECT_EQ(send(service, "seek avfile to " + std::string(frames)).status, 0) << name;
    EXPECT_EQ(position(service), std::stoll(frames) - 1) << name;
    EXPECT_EQ(send(service, "close avfile").status, 0);
  }
}

class ServiceWithClip : public ::testing::Test {
 protected:
  void SetUp() override {
    service.register_window(-3, &window);
    service.register_surface(-9, &surface);
    ASSERT_EQ(send(service, open_command(velmora_test::rgb_clip(), "avfile", "-3")).status, 0);
  }
  void TearDown() override { send(service, "close avfile"); }

  // The frame the window shows last, from the test pattern's red.
  int shown_frame() const {
    auto picture = window.last();
    return picture && !picture->pixels.empty() ? frame_of(picture->pixels[0]) : -1;
  }

  MediaService service;
  RecordingWindow window;
  BufferSurface surface{320, 240};
};

TEST_F(ServiceWithClip, LengthAndPositionAreDecimalFrames) {
  EXPECT_EQ(send(service, "status avfile length").text, "30");
  EXPECT_EQ(send(service, "status avfile position").text, "0");
}

TEST_F(ServiceWithClip, StepsStopAtBothEnds) {
  EXPECT_EQ(send(service, "step avfile reverse").status, 0);
  EXPECT_EQ(position(service), 0);
  EXPECT_EQ(send(service, "step avfile").status, 0);
  EXPECT_EQ(send(service, "step avfile").status, 0);
  EXPECT_EQ(position(service), 2);
  EXPECT_EQ(send(service, "step avfile reverse").status, 0);
  EXPECT_EQ(position(service), 1);
  ASSERT_EQ(send(service, "seek avfile to 29").status, 0);
  EXPECT_EQ(send(service, "step avfile").status, 0);
  EXPECT_EQ(position(service), 29);
}

TEST_F(ServiceWithClip, SeekToTheLengthShowsTheLastFrame) {
  ASSERT_EQ(send(service, "play avfile window").status, 0);
  ASSERT_EQ(send(service, "seek avfile to  30").status, 0);
  EXPECT_EQ(position(service), 29);
  EXPECT_EQ(shown_frame(), 29);
  ASSERT_EQ(send(service, "update avfile hdc -9").status, 0);
  EXPECT_EQ(frame_of(surface.at(100, 100)), 29);
}

TEST_F(ServiceWithClip, SeekOutOfRangeMovesNothing) {
  ASSERT_EQ(send(service, "seek avfile to 12").status, 0);
  for (const char* bad : {"seek avfile to 31", "seek avfile to -1", "seek avfile to 2147483647",
                          "seek avfile to -2147483648"}) {
    const auto r = send(service, bad);
    EXPECT_EQ(r.status, code(MediaStatus::number_out_of_range)) << bad;
    EXPECT_EQ(position(service), 12) << bad;
  }
}

TEST_F(ServiceWithClip, UpdatePaintsEveryPixelExactly) {
  ASSERT_EQ(send(service, "put avfile destination at 0 0  320 240").status, 0);
  ASSERT_EQ(send(service, "seek avfile to  17").status, 0);
  ASSERT_EQ(send(service, "update avfile hdc -9").status, 0);
  EXPECT_EQ(surface.painted_count(), 1);
  int wrong = 0;
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x)
      if (surface.at(x, y) != (0xff000000u | clipwriter::test_pattern(17, x, y))) ++wrong;
  EXPECT_EQ(wrong, 0);
}

TEST_F(ServiceWithClip, UpdateScalesIntoTheDestinationOnly) {
  ASSERT_EQ(send(service, "put avfile destination at 0 0  160 120").status, 0);
  ASSERT_EQ(send(service, "seek avfile to 4").status, 0);
  ASSERT_EQ(send(service, "update avfile hdc -9").status, 0);
  EXPECT_EQ(frame_of(surface.at(80, 60)), 4);
  EXPECT_EQ(surface.at(200, 200), 0xff123456u);  // outside the destination: left alone
}

TEST_F(ServiceWithClip, UpdateIntoAnUnknownSurfaceFails) {
  const auto r = send(service, "update avfile hdc 9");
  EXPECT_EQ(r.status, code(MediaStatus::no_such_surface));
  service.unregister_surface(-9);
  EXPECT_EQ(send(service, "update avfile hdc -9").status, code(MediaStatus::no_such_surface));
  EXPECT_EQ(surface.painted_count(), 0);
}

TEST_F(ServiceWithClip, WindowGetsPicturesOnlyAfterTheFirstPlay) {
  send(service, "step avfile");
  send(service, "seek avfile to 5");
  send(service, "step avfile reverse");
  send(service, "put avfile destination at 0 0  320 240");
  EXPECT_EQ(window.pictures(), 0);

  ASSERT_EQ(send(service, "play avfile window").status, 0);
  ASSERT_EQ(send(service, "pause avfile").status, 0);
  ASSERT_GE(window.pictures(), 1);
  EXPECT_EQ(shown_frame(), position(service));

  ASSERT_EQ(send(service, "seek avfile to 20").status, 0);
  EXPECT_EQ(shown_frame(), 20);
  ASSERT_EQ(send(service, "step avfile").status, 0);
  EXPECT_EQ(shown_frame(), 21);
  ASSERT_EQ(send(service, "step avfile reverse").status, 0);
  EXPECT_EQ(shown_frame(), 20);
}

TEST_F(ServiceWithClip, PicturesTakeTheDestinationRectangle) {
  ASSERT_EQ(send(service, "play avfile window").status, 0);
  send(service, "stop avfile");
  ASSERT_NE(window.last(), nullptr);
  EXPECT_EQ(window.last()->place, (Rect{0, 0, 320, 240}));  // the clip's own size at first

  ASSERT_EQ(send(service, "put avfile destination at 0 0  316 236").status, 0);
  auto picture = window.last();
  EXPECT_EQ(picture->place, (Rect{0, 0, 316, 236}));
  EXPECT_EQ(picture->pixels.size(), 316u * 236u);

  ASSERT_EQ(send(service, "put avfile destination").status, 0);
  EXPECT_EQ(window.last()->place, (Rect{0, 0, 320, 240}));
}

TEST_F(ServiceWithClip, CloseHidesTheVideoForGood) {
  ASSERT_EQ(send(service, "play avfile window").status, 0);
  ASSERT_EQ(send(service, "close avfile").status, 0);
  EXPECT_EQ(window.hides(), 1);
  const int shown = window.pictures();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(window.pictures(), shown);
  expect_nothing_open(service);
}

}  // namespace
}  // namespace service
