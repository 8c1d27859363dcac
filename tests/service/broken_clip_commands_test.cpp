// SPDX-License-Identifier: GPL-3.0-or-later
// Clips cut short or damaged on purpose: the service opens what it can, refuses the rest
// with a description, and never believes a header about frames the file does not hold.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "tools/clipwriter/broken_clips.h"
#include "service/media_errors.h"
#include "service_fixture.h"
#include "tests/support/written.h"

namespace service {
namespace {

using velmora_test::BufferSurface;
using velmora_test::RecordingWindow;
using velmora_test::open_command;
using velmora_test::send;

constexpr int kFrames = 20;

std::string whole_clip(clipwriter::Codec codec) {
  const clipwriter::ClipSpec spec{
      .width = 64, .height = 48, .frames = kFrames, .fps_num = 50, .codec = codec, .gop = 8,
      .b_frames = codec == clipwriter::Codec::mpeg4 ? 2 : 0};
  return velmora_test::cached_clip(spec);
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string write_variant(const std::string& name, const std::string& bytes) {
  const std::string path = (velmora_test::scratch_dir() / name).string();
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// Every command on whatever opened: each answer is 0 or a described failure.
void drive(MediaService& service, int64_t length, const std::string& what) {
  BufferSurface surface(64, 48);
  service.register_surface(3, &surface);
  const auto answered = [&](const std::string& command) {
    const auto r = send(service, command);
    EXPECT_TRUE(r.status == 0 || !describe(r.status).empty()) << what << ": " << command;
  };
  for (int64_t f = 0; f <= length; ++f) {
    answered("seek avfile to " + std::to_string(f));
    answered("update avfile hdc 3");
  }
  for (int i = 0; i < 3; ++i) answered("step avfile reverse");
  answered("play avfile window");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  answered("stop avfile");
  const auto position = send(service, "status avfile position");
  ASSERT_EQ(position.status, 0) << what;
  EXPECT_LT(std::stoll(position.text), length) << what;
  service.unregister_surface(3);
}

struct Damage {
  const char* name;
  std::string (*apply)(std::string);
  bool loses_frames;  // the file no longer holds all of its pictures
};

const Damage kDamages[] = {
    {"header-only", [](std::string b) { return b.substr(0, 600); }, true},
    {"quarter", [](std::string b) { return b.substr(0, b.size() / 4); }, true},
    {"half", [](std::string b) { return b.substr(0, b.size() / 2); }, true},
    {"most", [](std::string b) { return b.substr(0, b.size() * 9 / 10); }, true},
    {"scrambled-middle",
     [](std::string b) {
       for (std::size_t i = b.size() / 2; i < b.size() / 2 + 2000 && i < b.size(); ++i)
         b[i] = static_cast<char>(b[i] ^ 0x5a);
       return b;
     },
     false},
    {"zeroed-middle",
     [](std::string b) {
       for (std::size_t i = b.size() / 3; i < b.size() / 2; ++i) b[i] = 0;
       return b;
     },
     false},
};

TEST(BrokenClips, OpenWhatCanBeReadAndNeverMore) {
  const std::pair<clipwriter::Codec, const char*> codecs[] = {
      {clipwriter::Codec::rgb, "whole-rgb.avi"},
      {clipwriter::Codec::mjpeg, "whole-mjpeg.avi"},
      {clipwriter::Codec::mpeg4, "whole-mpeg4.avi"},
  };
  MediaService service;
  for (const auto& [codec, name] : codecs) {
    const std::string bytes = read_all(whole_clip(codec));
    ASSERT_GT(bytes.size(), 1000u) << name;
    for (const Damage& damage : kDamages) {
      const std::string what = std::string(damage.name) + "-" + name;
      const auto opened = send(service, open_command(write_variant(what, damage.apply(bytes))));
      if (opened.status != 0) {
        EXPECT_FALSE(describe(opened.status).empty()) << what;
        EXPECT_EQ(send(service, "status avfile length").status,
                  static_cast<int32_t>(MediaStatus::no_clip_under_alias))
            << what << " stayed open after a failure";
        continue;
      }
      const auto length = send(service, "status avfile length");
      ASSERT_EQ(length.status, 0) << what;
      const int64_t frames = std::stoll(length.text);
      EXPECT_GE(frames, 1) << what;
      if (damage.loses_frames)
        EXPECT_LT(frames, kFrames) << what << ": the header's count was believed";
      else
        EXPECT_LE(frames, kFrames) << what;
      drive(service, frames, what);
      EXPECT_EQ(send(service, "close avfile").status, 0) << what;
    }
  }
}


// Files that cannot be a clip at all: refusing them is the only right answer.
bool must_be_refused(const std::string& name) {
  for (const char* hopeless :
       {"empty", "zero-bytes", "text-renamed", "audio-only", "cut-inside-header"})
    if (name == hopeless) return true;
  return false;
}

// The program's own conversation with one opened clip; every answer is 0 or described,
// and the clip stays within its length.
void converse(MediaService& service, const std::string& what) {
  const auto answered = [&](const std::string& command) {
    const auto r = send(service, command);
    EXPECT_TRUE(r.status == 0 || !describe(r.status).empty()) << what << ": " << command;
    return r;
  };
  answered("put avfile destination at 0 0  320 240");
  const auto length_reply = answered("status avfile length");
  ASSERT_EQ(length_reply.status, 0) << what;
  const int64_t length = std::stoll(length_reply.text);
  ASSERT_GE(length, 1) << what;
  EXPECT_LE(length, kFrames) << what << ": the file holds no more frames than that";
  answered("play avfile window");
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  answered("pause avfile");
  answered("stop avfile");
  answered("update avfile hdc 3");
  for (int i = 0; i < 3; ++i) answered("step avfile");
  for (int i = 0; i < 4; ++i) answered("step avfile reverse");
  for (int64_t frame : {int64_t{0}, length / 2, length - 1}) {
    answered("seek avfile to  " + std::to_string(frame));
    answered("update avfile hdc 3");
  }
  // The scroll bar's far end is the length itself: that seek stops on the last frame.
  answered("seek avfile to  " + std::to_string(length));
  EXPECT_NE(send(service, "seek avfile to  " + std::to_string(length + 1)).status, 0)
      << what << ": a seek past the end was taken";
  const auto position = answered("status avfile position");
  ASSERT_EQ(position.status, 0) << what;
  EXPECT_LT(std::stoll(position.text), length) << what;
}

TEST(BrokenClips, EveryKindGoesThroughTheProgramsCommands) {
  const clipwriter::ClipSpec spec{
      .width = 64, .height = 48, .frames = kFrames, .fps_num = 25,
      .codec = clipwriter::Codec::mpeg4, .gop = 8, .b_frames = 2};
  const auto folder = velmora_test::scratch_dir() / "corpus";
  std::filesystem::create_directories(folder);
  const auto corpus = clipwriter::write_broken_clips(folder.string(), spec);
  ASSERT_TRUE(velmora_test::written(corpus));
  ASSERT_GE(corpus->size(), 18u);

  MediaService service;
  RecordingWindow window;
  BufferSurface surface(320, 240);
  service.register_window(7, &window);
  service.register_surface(3, &surface);
  int opened = 0;
  for (const auto& broken : *corpus) {
    const auto r = send(service, open_command(broken.path, "avfile", "7"));
    if (r.status != 0) {
      EXPECT_FALSE(describe(r.status).empty()) << broken.name;
      EXPECT_EQ(send(service, "status avfile length").status,
                static_cast<int32_t>(MediaStatus::no_clip_under_alias))
          << broken.name << " stayed open after a failure";
      continue;
    }
    ++opened;
    EXPECT_FALSE(must_be_refused(broken.name)) << broken.name << " was taken for a clip";
    converse(service, broken.name);
    EXPECT_EQ(send(service, "close avfile").status, 0) << broken.name;
  }
  // Most damage leaves something to play; a corpus that opens nothing tests only the open.
  EXPECT_GE(opened, 6);
  service.unregister_surface(3);
  service.unregister_window(7);
}

}  // namespace
}  // namespace service
