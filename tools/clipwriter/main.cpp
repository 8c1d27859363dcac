// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-clipgen: writes a sample or test clip.
//   velmora-clipgen OUT.avi --codec rgb|mjpeg|mpeg4|h264|ffv1|ffv1-10 --size WxH --frames N --fps F
//                   --gop G --bframes B --pattern test|ball|pendulum|rotor
#include <array>
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "tools/clipwriter/clip_writer.h"
#include "tools/clipwriter/patterns.h"

namespace {

constexpr const char* usage =
    "usage: velmora-clipgen OUT.avi [--codec rgb|mjpeg|mpeg4|h264|ffv1|ffv1-10] [--size WxH]\n"
    "                       [--frames N]\n"
    "                       [--fps F] [--gop G] [--bframes B] [--pattern test|ball|pendulum|rotor]\n";

bool parse_int(std::string_view text, int& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool parse_size(std::string_view text, int& width, int& height) {
  auto x = text.find('x');
  return x != std::string_view::npos && parse_int(text.substr(0, x), width) &&
         parse_int(text.substr(x + 1), height);
}

bool parse_codec(std::string_view text, clipwriter::ClipSpec& spec) {
  if (text == "rgb") spec.codec = clipwriter::Codec::rgb;
  else if (text == "mjpeg") spec.codec = clipwriter::Codec::mjpeg;
  else if (text == "mpeg4") spec.codec = clipwriter::Codec::mpeg4;
  else if (text == "h264") spec.codec = clipwriter::Codec::h264;
  else if (text == "ffv1") spec.codec = clipwriter::Codec::ffv1;
  else if (text == "ffv1-10") spec.codec = clipwriter::Codec::ffv1, spec.ten_bit = true;
  else return false;
  return true;
}

struct Options {
  std::string out;
  clipwriter::ClipSpec spec;
  std::string pattern = "test";
};

// Fills `options` from the command line; false (after saying why) when it is wrong.
bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (!arg.starts_with("--")) {
      if (!options.out.empty()) return std::fprintf(stderr, "two output files given\n"), false;
      options.out = arg;
      continue;
    }
    if (i + 1 >= argc) return std::fprintf(stderr, "%s needs a value\n", argv[i]), false;
    std::string_view value = argv[++i];
    auto& s = options.spec;
    bool ok = arg == "--codec"     ? parse_codec(value, s)
              : arg == "--size"    ? parse_size(value, s.width, s.height)
              : arg == "--frames"  ? parse_int(value, s.frames)
              : arg == "--fps"     ? parse_int(value, s.fps_num)
              : arg == "--gop"     ? parse_int(value, s.gop)
              : arg == "--bframes" ? parse_int(value, s.b_frames)
              : arg == "--pattern" ? (options.pattern = value, true)
                                   : false;
    if (!ok) return std::fprintf(stderr, "bad option %s %s\n", argv[i - 1], argv[i]), false;
  }
  if (options.out.empty()) return std::fprintf(stderr, "no output file given\n"), false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fputs(usage, stderr);
    return 2;
  }
  const auto& s = options.spec;
  clipwriter::Painter painter;
  if (options.pattern == "test") painter = clipwriter::test_pattern;
  else if (options.pattern == "ball") painter = clipwriter::ball_pattern(s.width, s.height, s.frames);
  else if (options.pattern == "pendulum")
    painter = clipwriter::pendulum_pattern(s.width, s.height, s.frames);
  else if (options.pattern == "rotor")
    painter = clipwriter::rotor_pattern(s.width, s.height, s.frames);
  else {
    std::fprintf(stderr, "unknown pattern %s\n%s", options.pattern.c_str(), usage);
    return 2;
  }
  // A 10-bit clip is painted at 16 bits: each 8-bit level repeated in the low byte.
  const auto deep = [&](int frame, int x, int y) {
    const uint32_t rgb = painter(frame, x, y);
    return std::array<uint16_t, 3>{static_cast<uint16_t>((rgb >> 16 & 0xff) * 257),
                                   static_cast<uint16_t>((rgb >> 8 & 0xff) * 257),
                                   static_cast<uint16_t>((rgb & 0xff) * 257)};
  };
  const base::Status written = s.ten_bit ? clipwriter::write_deep_clip(options.out, s, deep)
                                         : clipwriter::write_avi(options.out, s, painter);
  if (!written) {
    std::fprintf(stderr, "velmora-clipgen: %s\n", written.error().message.c_str());
    return 1;
  }
  return 0;
}
