// SPDX-License-Identifier: GPL-3.0-or-later
// Thousands of commands nobody would send: each gets 0 or a described status, and the
// service stays whole (no crash, no hang, the clip where it may be).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "service/media_errors.h"
#include "service_fixture.h"

namespace service {
namespace {

using velmora_test::BufferSurface;
using velmora_test::RecordingWindow;
using velmora_test::send;

const char* const kNumbers[] = {
    "0",    "1",    "-1",  "5",          "11",          "12",         "13",
    "-0",   "+5",   "1e9", "2147483647", "-2147483648", "2147483648", "99999999999999999999",
    "8192", "8193", "320", "240"};

std::vector<std::string> vocabulary() {
  std::vector<std::string> words = {"open",
                                    "close",
                                    "put",
                                    "status",
                                    "play",
                                    "pause",
                                    "stop",
                                    "update",
                                    "step",
                                    "seek",
                                    "avfile",
                                    "AVFILE",
                                    "other",
                                    "alias",
                                    "style",
                                    "child",
                                    "parent",
                                    "destination",
                                    "at",
                                    "length",
                                    "position",
                                    "window",
                                    "hdc",
                                    "reverse",
                                    "to",
                                    "%",
                                    "%zz",
                                    "%2",
                                    "/",
                                    ".",
                                    "..",
                                    "\xe3\x80\x80",
                                    "\xff\xfe",
                                    "\xe3\x81",
                                    service::short_name(velmora_test::small_clip())};
  words.insert(words.end(), std::begin(kNumbers), std::end(kNumbers));
  return words;
}

// Commands as the program might send them, "#" standing for a number.
std::vector<std::string> templates() {
  const std::string clip = service::short_name(velmora_test::small_clip());
  std::vector<std::string> out;
  for (const std::string alias : {"avfile", "other"}) {
    out.push_back("open " + clip + " alias " + alias + " style child parent #");
    out.push_back("open " + clip + " alias " + alias);
    for (const char* rest :
         {"close A", "put A destination at # #  # #", "put A destination", "status A length",
          "status A position", "play A window", "pause A", "stop A", "update A hdc #", "step A",
          "step A reverse", "seek A to  #"}) {
      std::string command = rest;
      command.replace(command.find('A'), 1, alias);
      out.push_back(command);
    }
  }
  return out;
}

std::string random_bytes(std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(1, 255), len(1, 12);
  std::string out;
  for (int k = len(rng); k > 0; --k) out += static_cast<char>(byte(rng));
  return out;
}

// A command of the program's own, its numbers drawn at random and, half of the time, a few
// words replaced, dropped or added.
std::string random_command(std::mt19937& rng, const std::vector<std::string>& commands,
                           const std::vector<std::string>& words) {
  auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
  };
  std::vector<std::string> parts;
  for (std::string_view rest = commands[pick(commands.size())]; !rest.empty();) {
    const std::size_t blank = rest.find(' ');
    parts.emplace_back(rest.substr(0, blank));
    rest = blank == std::string_view::npos ? "" : rest.substr(blank + 1);
  }
  for (auto& part : parts)
    if (part == "#") part = kNumbers[pick(std::size(kNumbers))];
  const int mutations = pick(2) == 0 ? 0 : 1 + static_cast<int>(pick(3));
  for (int m = 0; m < mutations; ++m) {
    const std::size_t at = pick(parts.size() + 1);
    const std::string word = pick(8) == 0 ? random_bytes(rng) : words[pick(words.size())];
    switch (pick(3)) {
      case 0:
        if (at < parts.size()) parts[at] = word;
        break;
      case 1:
        if (at < parts.size()) parts.erase(parts.begin() + at);
        break;
      default:
        parts.insert(parts.begin() + at, word);
    }
  }
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out.append(1 + pick(2), pick(10) == 0 ? '\t' : ' ');
    out += parts[i];
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
  const auto commands = templates();
  int succeeded = 0;
  for (int i = 0; i < 4000; ++i) {
    const std::string command = random_command(rng, commands, words);
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
  EXPECT_GT(succeeded, 400);
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
}  // namespace service
