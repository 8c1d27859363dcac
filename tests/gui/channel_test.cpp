// SPDX-License-Identifier: GPL-3.0-or-later
// The command channel over the real service: replies, beeps, number forms and file names
// that must reach the service whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "service/media_errors.h"
#include "service/media_service.h"
#include "media/mci.h"
#include "tests/support/clips.h"
#include "window/seams.h"

namespace {

namespace fs = std::filesystem;
using media::blank_led;
using media::mci_command;
using media::plain_decimal;
using media::short_path;

constexpr int32_t kNoClip = static_cast<int32_t>(service::MediaStatus::no_clip_under_alias);
constexpr int32_t kNoSuchFile = static_cast<int32_t>(service::MediaStatus::no_such_file);

class CountingWindow : public service::VideoWindow {
 public:
  void show(std::shared_ptr<const service::VideoPicture>) override {}
};

class CountingSurface : public service::DrawingSurface {
 public:
  service::PixelBuffer pixels() override { return {pixels_.data(), 32, 24, 32}; }
  void painted() override { ++paints; }
  int paints = 0;

 private:
  std::vector<uint32_t> pixels_ = std::vector<uint32_t>(32 * 24);
};

// A small clip from the cache, copied under whatever names a test needs.
class Channel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = velmora_test::scratch_dir() / "channel";
    fs::create_directories(dir_);
  }

  void SetUp() override {
    window::seams().beep = [this] { ++beeps; };
  }
  void TearDown() override {
    char reply[256];
    service::media_service().send_string("close avfile", reply, 256);  // quietly, no beep
    window::reset_seams();
  }

  static std::string clip_named(const fs::path& name) {
    const fs::path target = dir_ / name;
    fs::create_directories(target.parent_path());
    const std::string clip = velmora_test::cached_clip({.width = 32, .height = 24, .frames = 9});
    fs::copy_file(clip, target, fs::copy_options::overwrite_existing);
    return target.string();
  }

  int32_t send(const std::string& command) {
    reply = "untouched";
    return mci_command(command, reply);
  }

  static fs::path dir_;
  int beeps = 0;
  std::string reply;
};

fs::path Channel::dir_;

TEST_F(Channel, SuccessWithoutReplyLeavesTheReplyEmpty) {
  ASSERT_EQ(send("open " + short_path(clip_named("plain.avi")) + " alias avfile"), 0) << reply;
  EXPECT_EQ(reply, "");
  EXPECT_EQ(send("stop avfile"), 0);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(send("status avfile length"), 0);
  EXPECT_EQ(reply, "9");
  EXPECT_EQ(beeps, 0);
}

TEST_F(Channel, FailureBeepsOnceAndRepliesWithTheDescription) {
  EXPECT_EQ(send("status avfile position"), kNoClip);
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(reply, service::describe(kNoClip));

  EXPECT_EQ(send("fetch avfile"), static_cast<int32_t>(service::MediaStatus::unknown_command));
  EXPECT_EQ(beeps, 2);
  EXPECT_EQ(reply, service::describe(service::MediaStatus::unknown_command));
}

TEST_F(Channel, ClosingWithNothingOpenBeepsOnce) {
  EXPECT_EQ(send("close avfile"), kNoClip);
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(reply, service::describe(kNoClip));
}

TEST_F(Channel, NumberForms) {
  EXPECT_EQ(plain_decimal(0), "0");
  EXPECT_EQ(plain_decimal(4711), "4711");
  EXPECT_EQ(plain_decimal(-42), "-42");
  EXPECT_EQ(plain_decimal(std::numeric_limits<int32_t>::min()), "-2147483648");
  EXPECT_EQ(blank_led(0), " 0");
  EXPECT_EQ(blank_led(316), " 316");
  EXPECT_EQ(blank_led(-5), "-5");
  EXPECT_EQ("put avfile destination at 0 0 " + blank_led(316) + blank_led(236),
            "put avfile destination at 0 0  316 236");
  EXPECT_EQ("seek avfile to " + blank_led(0), "seek avfile to  0");
}

TEST_F(Channel, CommandsAsBuiltAreTaken) {
  ASSERT_EQ(send("open " + short_path(clip_named("built.avi")) + " alias avfile"), 0) << reply;
  EXPECT_EQ(send("put avfile destination at 0 0 " + blank_led(316) + blank_led(236)), 0) << reply;
  EXPECT_EQ(send("seek avfile to " + blank_led(8)), 0) << reply;
  EXPECT_EQ(send("status avfile position"), 0);
  EXPECT_EQ(reply, "8");
  EXPECT_EQ(send("seek avfile to " + blank_led(0)), 0) << reply;
  EXPECT_EQ(send("status avfile position"), 0);
  EXPECT_EQ(reply, "0");
  EXPECT_EQ(send("seek avfile to " + blank_led(-1)),
            static_cast<int32_t>(service::MediaStatus::number_out_of_range));
  EXPECT_EQ(beeps, 1);
}

TEST_F(Channel, NegativeHandlesReachTheirWindowAndSurface) {
  CountingWindow video;
  CountingSurface capture;
  service::media_service().register_window(-7, &video);
  service::media_service().register_surface(-42, &capture);
  const std::string open = "open " + short_path(clip_named("handles.avi")) +
                           " alias avfile style child parent " + plain_decimal(-7);
  EXPECT_EQ(send(open), 0) << reply;
  EXPECT_EQ(send("update avfile hdc " + plain_decimal(-42)), 0) << reply;
  EXPECT_EQ(capture.paints, 1);
  EXPECT_EQ(send("update avfile hdc " + plain_decimal(42)),
            static_cast<int32_t>(service::MediaStatus::no_such_surface));
  EXPECT_EQ(beeps, 1);
  send("close avfile");
  service::media_service().unregister_surface(-42);
  service::media_service().unregister_window(-7);
}

TEST_F(Channel, MissingFileHasNoShortPathAndTheOpenFails) {
  const std::string missing = (dir_ / "no such clip.avi").string();
  EXPECT_EQ(short_path(missing), "");
  EXPECT_EQ(send("open " + short_path(missing) + " alias avfile style child parent 1"),
            kNoSuchFile);
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(reply, service::describe(kNoSuchFile));
}

bool has_white_space(const std::string& s) {
  return s.find_first_of(" \t\n\r\v\f") != std::string::npos ||
         s.find("\xe3\x80\x80") != std::string::npos;  // U+3000, the ideographic blank
}

TEST_F(Channel, AwkwardFileNamesOpenThroughTheirShortPath) {
  // What "%41%20.avi" would turn into if its '%' were taken for escapes: no clip.
  std::ofstream(dir_ / "A .avi") << "not a clip";
  const char* const names[] = {
      "two words.avi",
      "tab\there.avi",
      "line\nbreak.avi",
      "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.avi",                          // 日本語
      "\xe5\x85\xa8\xe8\xa7\x92\xe3\x80\x80\xe7\xa9\xba\xe7\x99\xbd.avi",  // 全角　空白
      "100%.avi",
      "%41%20.avi",  // must stay these very characters, not "A "
      "folder with blanks/inner clip.avi",
      " leading and trailing .avi ",
  };
  for (const char* name : names) {
    const std::string path = clip_named(name);
    const std::string shortened = short_path(path);
    ASSERT_FALSE(shortened.empty()) << name;
    EXPECT_FALSE(has_white_space(shortened)) << shortened;
    EXPECT_EQ(send("open " + shortened + " alias avfile"), 0) << name << ": " << reply;
    EXPECT_EQ(send("status avfile length"), 0) << name;
    EXPECT_EQ(reply, "9") << name;
    EXPECT_EQ(send("close avfile"), 0);
    fs::remove(path);
  }
  EXPECT_EQ(beeps, 0);
}

}  // namespace
