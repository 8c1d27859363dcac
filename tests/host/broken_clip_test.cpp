// Clips cut short or damaged on purpose: the service opens what it can, refuses the rest
// with a description, and never believes a header about frames the file does not hold.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "host/media_errors.h"
#include "service_fixture.h"

namespace host {
namespace {

using velmora_test::BufferSurface;
using velmora_test::open_command;
using velmora_test::send;

constexpr int kFrames = 20;

std::string whole_clip(clipwriter::Codec codec, const char* name) {
  clipwriter::ClipSpec spec;
  spec.width = 64;
  spec.height = 48;
  spec.frames = kFrames;
  spec.fps_num = 50;
  spec.codec = codec;
  spec.gop = 8;
  spec.b_frames = codec == clipwriter::Codec::mpeg4 ? 2 : 0;
  return velmora_test::clip(name, spec);
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
    const std::string bytes = read_all(whole_clip(codec, name));
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

}  // namespace
}  // namespace host
