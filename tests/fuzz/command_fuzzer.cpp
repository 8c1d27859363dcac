// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the service's command parser, then whole conversations with the
// service on two tiny clips. An input is one or more commands, one per line.
//
// Handles: windows 4096..4103 and surfaces 20480..20487 are registered, which covers the
// numbers a started velmora6 window gives its panes. The clips are "clip.avi" (raw RGB)
// and "clip4.avi" (MPEG-4 with B-frames) in the fuzzer's working folder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "tools/clipwriter/clip_writer.h"
#include "service/command_parser.h"
#include "service/media_errors.h"
#include "service/media_service.h"
#include "service/surfaces.h"
#include "tests/support/scratch.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr int kReplySize = 256;
constexpr std::size_t kMaxCommands = 24;

// A broken promise is a finding: libFuzzer keeps the input that led here.
void require(bool holds, const char* what, std::string_view input) {
  if (holds) return;
  std::fprintf(stderr, "broken promise: %s\ninput: %.*s\n", what, static_cast<int>(input.size()),
               input.data());
  std::abort();
}

std::string joined(const std::vector<std::string_view>& words) {
  std::string out;
  for (const auto& word : words) (out += word) += ' ';
  return out;
}

bool same(const service::Parsed& a, const service::Parsed& b) {
  const service::Command &x = a.command, &y = b.command;
  const bool same_rect = x.destination.has_value() == y.destination.has_value() &&
                         (!x.destination || (x.destination->x == y.destination->x &&
                                             x.destination->y == y.destination->y &&
                                             x.destination->width == y.destination->width &&
                                             x.destination->height == y.destination->height));
  return a.status == b.status && x.verb == y.verb && x.alias == y.alias &&
         x.file_name == y.file_name && x.parent == y.parent && same_rect && x.item == y.item &&
         x.reverse == y.reverse && x.frame == y.frame && x.surface == y.surface;
}

// What the parser promises whatever the text.
void check_parser(std::string_view text) {
  const service::Parsed parsed = service::parse_command(text);
  // Blanks only separate words: how many, and which kind, must not matter.
  require(same(parsed, service::parse_command(joined(service::split_words(text)))),
          "the blanks between words changed the command", text);
  if (parsed.status != service::MediaStatus::ok) {
    require(!service::describe(parsed.status).empty(), "a refusal without a description", text);
    return;
  }
  const service::Command& c = parsed.command;
  require(!c.alias.empty(), "a command without an alias was accepted", text);
  for (char ch : c.alias) require(ch < 'A' || ch > 'Z', "an alias kept upper case", text);
  if (c.verb == service::Verb::open) require(!c.file_name.empty(), "open without a file", text);
  if (c.destination)
    require(c.destination->width >= 1 && c.destination->height >= 1 &&
                c.destination->width <= 8192 && c.destination->height <= 8192,
            "a destination size out of range was accepted", text);
}

class Surface : public service::DrawingSurface {
 public:
  service::PixelBuffer pixels() override { return {pixels_.data(), 40, 30, 40}; }
  void painted() override {}

 private:
  std::vector<uint32_t> pixels_ = std::vector<uint32_t>(40 * 30);
};

class Window : public service::VideoWindow {
 public:
  void show(std::shared_ptr<const service::VideoPicture>) override {}
};

bool digits_only(const char* reply) {
  for (const char* p = reply; *p != '\0'; ++p)
    if (*p < '0' || *p > '9') return false;
  return true;
}

// What the service promises for every command, with the buffer size the programs use.
void check_reply(int32_t status, const char (&reply)[kReplySize], std::string_view command) {
  require(std::memchr(reply, '\0', kReplySize) != nullptr, "reply not NUL-ended", command);
  if (status == 0) {
    require(digits_only(reply), "a reply that is not a number", command);
  } else {
    require(reply[0] == '\0', "a failure with a reply", command);
    require(!service::describe(status).empty(), "a failure without a description", command);
  }
}

void converse(std::string_view input) {
  Window window;
  Surface surfaces[8];
  service::MediaService service;
  for (int i = 0; i < 8; ++i) {
    service.register_window(4096 + i, &window);
    service.register_surface(20480 + i, &surfaces[i]);
  }
  std::size_t sent = 0;
  for (std::size_t start = 0; start <= input.size() && sent < kMaxCommands; ++sent) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    const std::string command(input.substr(start, end - start));
    start = end + 1;
    char reply[kReplySize];
    std::memset(reply, 0x7f, sizeof reply);
    check_reply(service.send_string(command.c_str(), reply, kReplySize), reply, command);
  }
  // Closing the clips is left to the service's destructor, as at the end of a program.
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  av_log_set_level(AV_LOG_QUIET);
  static const velmora_test::ScratchFolder folder("velmora-fuzz");
  if (::chdir(folder.path().c_str()) != 0) std::abort();
  clipwriter::ClipSpec rgb;
  rgb.width = 32;
  rgb.height = 24;
  rgb.frames = 12;
  rgb.fps_num = 200;
  clipwriter::ClipSpec mpeg4 = rgb;
  mpeg4.codec = clipwriter::Codec::mpeg4;
  mpeg4.gop = 5;
  mpeg4.b_frames = 2;
  if (!clipwriter::write_avi("clip.avi", rgb, clipwriter::test_pattern) ||
      !clipwriter::write_avi("clip4.avi", mpeg4, clipwriter::test_pattern))
    std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // The programs never send a NUL: the C string would end there.
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.find('\0') != std::string_view::npos) return -1;
  check_parser(input);
  converse(input);
  return 0;
}
