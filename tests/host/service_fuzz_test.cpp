// Thousands of commands nobody would send: each gets 0 or a described status, and the
// service stays whole (no crash, no hang, the clip where it may be).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "host/media_errors.h"
#include "service_fixture.h"

namespace host {
namespace {

using velmora_test::BufferSurface;
using velmora_test::RecordingWindow;
using velmora_test::send;

std::vector<std::string> vocabulary() {
  return {"open",    "close",   "put",      "status",   "play",     "pause",  "stop",
          "update",  "step",    "seek",     "avfile",   "AVFILE",   "other",  "alias",
          "style",   "child",   "parent",   "destination", "at",    "length", "position",
          "window",  "hdc",     "reverse",  "to",       "0",        "1",      "-1",
          "5",       "11",      "12",       "13",       "-0",       "+5",     "1e9",
          "2147483647", "-2147483648", "2147483648", "99999999999999999999", "8192",
          "8193",    "320",     "240",      "%",        "%zz",      "%2",     "/",
          ".",       "..",      "\xe3\x80\x80", "\xff\xfe", "\xe3\x81", "\t",
          host::short_name(velmora_test::small_clip())};
}

// Words from the vocabulary, now and then a run of random bytes, between random gaps.
std::string random_command(std::mt19937& rng, const std::vector<std::string>& words) {
  std::uniform_int_distribution<int> count(0, 9), pick(0, static_cast<int>(words.size()) - 1),
      gap(1, 3), coin(0, 9), byte(1, 255), len(1, 12);
  std::string out;
  const int n = count(rng);
  for (int i = 0; i < n; ++i) {
    if (i > 0) out.append(gap(rng), coin(rng) == 0 ? '\t' : ' ');
    if (coin(rng) == 0) {
      for (int k = len(rng); k > 0; --k) out += static_cast<char>(byte(rng));
    } else {
      out += words[pick(rng)];
    }
  }
  return out;
}

// A reply holds a length or position, or nothing.
bool plain_reply(const std::string& text) {
  return text.find_first_not_of("0123456789") == std::string::npos;
}

void check_clip_is_sane(MediaService& service, const std::string& alias) {
  const auto length = send(service, "status " + alias + " length");
  if (length.status != 0) return;  // not open
  const auto position = send(service, "status " + alias + " position");
  ASSERT_EQ(position.status, 0);
  ASSERT_FALSE(length.text.empty());
  ASSERT_FALSE(position.text.empty());
  EXPECT_EQ(length.text, "12");
  EXPECT_LT(std::stoll(position.text), 12);
}

TEST(ServiceFuzz, RandomCommandsAreAnsweredAndHarmless) {
  MediaService service;
  RecordingWindow window;
  BufferSurface surface(40, 30), negative(40, 30);
  service.register_window(1, &window);
  service.register_window(-1, &window);
  service.register_surface(5, &surface);
  service.register_surface(-1, &negative);

  std::mt19937 rng(20261207);
  const auto words = vocabulary();
  int succeeded = 0;
  for (int i = 0; i < 4000; ++i) {
    const std::string command = random_command(rng, words);
    const auto r = send(service, command);
    if (r.status == 0) {
      ++succeeded;
      EXPECT_TRUE(plain_reply(r.text)) << command;
    } else {
      EXPECT_FALSE(describe(r.status).empty()) << "undescribed " << r.status << ": " << command;
      EXPECT_EQ(r.text, "") << command;
    }
    if (i % 50 == 0) {
      check_clip_is_sane(service, "avfile");
      check_clip_is_sane(service, "other");
    }
  }
  // The mix must reach past the parser now and then, or it tests little.
  EXPECT_GT(succeeded, 20);
  send(service, "close avfile");
  send(service, "close other");
}

TEST(ServiceFuzz, RandomBytesAreRefused) {
  MediaService service;
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(1, 255), len(0, 300);
  for (int i = 0; i < 3000; ++i) {
    std::string command;
    for (int k = len(rng); k > 0; --k) command += static_cast<char>(byte(rng));
    const auto r = send(service, command);
    EXPECT_NE(r.status, 0) << command;
    EXPECT_FALSE(describe(r.status).empty());
  }
}

}  // namespace
}  // namespace host
