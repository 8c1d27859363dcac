// SPDX-License-Identifier: GPL-3.0-or-later
// The words of every command the program sends, and every way a command can be wrong.
#include "service/command_parser.h"

#include <gtest/gtest.h>

#include <limits>

namespace service {
namespace {

Command parsed_ok(const std::string& text) {
  const Parsed p = parse_command(text);
  EXPECT_EQ(p.status, MediaStatus::ok) << text;
  return p.command;
}

TEST(CommandParser, EveryCommandTheProgramSends) {
  EXPECT_EQ(parsed_ok("close avfile").verb, Verb::close);

  Command open = parsed_ok("open /tmp/a%20b.avi alias avfile style child parent 4711");
  EXPECT_EQ(open.verb, Verb::open);
  EXPECT_EQ(open.file_name, "/tmp/a%20b.avi");
  EXPECT_EQ(open.alias, "avfile");
  EXPECT_EQ(open.parent, 4711);

  Command put = parsed_ok("put avfile destination at 0 0  316 236");
  EXPECT_EQ(put.verb, Verb::put);
  EXPECT_EQ(put.destination, (Rect{0, 0, 316, 236}));

  Command length = parsed_ok("status avfile length");
  EXPECT_EQ(length.verb, Verb::status);
  EXPECT_EQ(length.item, StatusItem::length);
  EXPECT_EQ(parsed_ok("status avfile position").item, StatusItem::position);

  EXPECT_EQ(parsed_ok("play avfile window").verb, Verb::play);
  EXPECT_EQ(parsed_ok("pause avfile").verb, Verb::pause);
  EXPECT_EQ(parsed_ok("stop avfile").verb, Verb::stop);

  Command update = parsed_ok("update avfile hdc 305419896");
  EXPECT_EQ(update.verb, Verb::update);
  EXPECT_EQ(update.surface, 305419896);

  Command step = parsed_ok("step avfile");
  EXPECT_EQ(step.verb, Verb::step);
  EXPECT_FALSE(step.reverse);
  EXPECT_TRUE(parsed_ok("step avfile reverse").reverse);

  Command seek = parsed_ok("seek avfile to  0");
  EXPECT_EQ(seek.verb, Verb::seek);
  EXPECT_EQ(seek.frame, 0);
  EXPECT_EQ(parsed_ok("seek avfile to  1234").frame, 1234);
}

TEST(CommandParser, OneBlankDoesAsWellAsTwo) {
  EXPECT_EQ(parsed_ok("put avfile destination at 0 0 316 236").destination, (Rect{0, 0, 316, 236}));
  EXPECT_EQ(parsed_ok("seek avfile to 7").frame, 7);
  // Tabs, leading and trailing blanks separate words as well.
  EXPECT_EQ(parsed_ok("  seek\tavfile  to \t 9  ").frame, 9);
}

TEST(CommandParser, NegativeHandlesAreValid) {
  EXPECT_EQ(parsed_ok("update avfile hdc -42").surface, -42);
  EXPECT_EQ(parsed_ok("open x alias avfile style child parent -2147483648").parent,
            std::numeric_limits<int32_t>::min());
  EXPECT_EQ(parsed_ok("update avfile hdc 2147483647").surface, std::numeric_limits<int32_t>::max());
}

TEST(CommandParser, KeywordsAndAliasesIgnoreCase) {
  Command c = parsed_ok("SEEK AvFile TO  3");
  EXPECT_EQ(c.alias, "avfile");
  EXPECT_EQ(c.frame, 3);
  Command o = parsed_ok("Open Clip.AVI Alias AVFILE Style Child Parent 1");
  EXPECT_EQ(o.file_name, "Clip.AVI");  // file names keep their case
  EXPECT_EQ(o.alias, "avfile");
}

TEST(CommandParser, OpenOptionsInAnyOrderAndWithoutAWindow) {
  Command c = parsed_ok("open f.avi parent 9 alias v style child");
  EXPECT_EQ(c.alias, "v");
  EXPECT_EQ(c.parent, 9);
  Command plain = parsed_ok("open f.avi alias avfile");
  EXPECT_FALSE(plain.parent.has_value());
  // A file that happens to be called "alias".
  EXPECT_EQ(parsed_ok("open alias alias avfile").file_name, "alias");
}

TEST(CommandParser, PutWithoutRectangleMeansTheClipsOwnSize) {
  EXPECT_FALSE(parsed_ok("put avfile destination").destination.has_value());
}

struct Refused {
  const char* text;
  MediaStatus status;
};

TEST(CommandParser, RefusesWhatItCannotDo) {
  const Refused cases[] = {
      {"", MediaStatus::unknown_command},
      {"   \t ", MediaStatus::unknown_command},
      {"frobnicate avfile", MediaStatus::unknown_command},
      {"playavfile", MediaStatus::unknown_command},
      {"close", MediaStatus::missing_word},
      {"close avfile now", MediaStatus::unknown_keyword},
      {"status avfile", MediaStatus::missing_word},
      {"status avfile size", MediaStatus::unknown_keyword},
      {"status avfile length position", MediaStatus::unknown_keyword},
      {"play avfile fullscreen", MediaStatus::unknown_keyword},
      {"play avfile window window", MediaStatus::unknown_keyword},
      {"step avfile backwards", MediaStatus::unknown_keyword},
      {"update avfile", MediaStatus::missing_word},
      {"update avfile hwnd 5", MediaStatus::unknown_keyword},
      {"update avfile hdc", MediaStatus::missing_number},
      {"seek avfile", MediaStatus::missing_word},
      {"seek avfile from 3", MediaStatus::unknown_keyword},
      {"seek avfile to", MediaStatus::missing_number},
      {"seek avfile to 3 4", MediaStatus::unknown_keyword},
      {"put avfile", MediaStatus::missing_word},
      {"put avfile source at 0 0 1 1", MediaStatus::unknown_keyword},
      {"put avfile destination at 0 0 316", MediaStatus::missing_number},
      {"put avfile destination at 0 0 0 240", MediaStatus::number_out_of_range},
      {"put avfile destination at 0 0 320 -240", MediaStatus::number_out_of_range},
      {"put avfile destination at 0 0 100000 240", MediaStatus::number_out_of_range},
      {"put avfile destination at 99999 0 320 240", MediaStatus::number_out_of_range},
      {"open", MediaStatus::missing_word},
      {"open f.avi", MediaStatus::missing_word},
      {"open f.avi alias", MediaStatus::missing_word},
      {"open f.avi alias a style child", MediaStatus::missing_word},
      {"open f.avi alias a parent 3", MediaStatus::missing_word},
      {"open f.avi alias a style adult parent 3", MediaStatus::unknown_keyword},
      {"open f.avi alias a alias b", MediaStatus::unknown_keyword},
      {"open f.avi alias a type avivideo", MediaStatus::unknown_keyword},
      {"open f.avi alias a style child parent x", MediaStatus::malformed_number},
      // The open the program builds from an empty short name: no file named at all.
      {"open  alias avfile style child parent 5", MediaStatus::no_such_file},
      {"open  alias avfile", MediaStatus::no_such_file},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_command(c.text).status, c.status) << c.text;
}

TEST(CommandParser, NumbersInOnlyOneForm) {
  const Refused cases[] = {
      {"seek avfile to +5", MediaStatus::malformed_number},
      {"seek avfile to 1e9", MediaStatus::malformed_number},
      {"seek avfile to -0", MediaStatus::malformed_number},
      {"seek avfile to --5", MediaStatus::malformed_number},
      {"seek avfile to 5-", MediaStatus::malformed_number},
      {"seek avfile to -", MediaStatus::malformed_number},
      {"seek avfile to 0x10", MediaStatus::malformed_number},
      {"seek avfile to 3.0", MediaStatus::malformed_number},
      {"seek avfile to \xef\xbc\x93", MediaStatus::malformed_number},  // a full-width 3
      {"seek avfile to 2147483648", MediaStatus::number_out_of_range},
      {"seek avfile to 99999999999999999999", MediaStatus::number_out_of_range},
      {"seek avfile to -99999999999999999999", MediaStatus::number_out_of_range},
      {"update avfile hdc 2147483648", MediaStatus::number_out_of_range},
      {"update avfile hdc -2147483649", MediaStatus::number_out_of_range},
      {"update avfile hdc 18446744073709551617", MediaStatus::number_out_of_range},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_command(c.text).status, c.status) << c.text;
}

TEST(ParseNumber, LimitsAndLeadingZeros) {
  int64_t v = -1;
  EXPECT_EQ(parse_number("0", 0, 10, v), MediaStatus::ok);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(parse_number("007", 0, 10, v), MediaStatus::ok);
  EXPECT_EQ(v, 7);
  EXPECT_EQ(parse_number("10", 0, 10, v), MediaStatus::ok);
  EXPECT_EQ(parse_number("11", 0, 10, v), MediaStatus::number_out_of_range);
  EXPECT_EQ(parse_number("-1", 0, 10, v), MediaStatus::number_out_of_range);
  EXPECT_EQ(parse_number("000000000000000000000000012", 0, 20, v), MediaStatus::ok);
  EXPECT_EQ(v, 12);
  EXPECT_EQ(parse_number("999999999999999999", 0, std::numeric_limits<int64_t>::max(), v),
            MediaStatus::ok);
  EXPECT_EQ(v, 999999999999999999);
  EXPECT_EQ(parse_number("", 0, 10, v), MediaStatus::malformed_number);
}

TEST(SplitWords, BlanksOfEveryKindSeparate) {
  const auto words = split_words(" a\tb\n\nc\r d  ");
  ASSERT_EQ(words.size(), 4u);
  EXPECT_EQ(words[0], "a");
  EXPECT_EQ(words[3], "d");
  EXPECT_TRUE(split_words("").empty());
}

}  // namespace
}  // namespace service
