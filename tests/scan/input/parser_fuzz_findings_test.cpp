// SPDX-License-Identifier: GPL-3.0-or-later
// What the fuzzer of velmora-scan's readers found (its inputs, minimized, are in the test
// data folder's parsers-fuzz/, which the suite replays through it): each table says what
// went wrong and checks what holds now.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "scan/input/image_list.h"
#include "scan/time/picture_clock.h"
#include "scan/time/timeline.h"
#include "tests/support/scratch.h"

namespace {

// Printf patterns with a % that is not the number's: the listing hung, building one name
// without end ("a%d%"), or handed the rest to printf as its format, which read a string
// at an address made of the number ("a%d%s"). "%%d" is a percent sign and a d, not a
// number, and listed the one file it names without end.
TEST(ParserFuzzFindings, PrintfPatternsTakeOnlyTheNumberAndPercentSigns) {
  const struct {
    const char* pattern;
    const char* listed;  // the names found, or "refused"; "-" for no sequence at all
  } cases[] = {
      {"a%d%", "refused"},          {"a%d%s", "refused"},           {"100%%d.png", "-"},
      {"a%d.png", "a0.png a1.png a3.png"}, {"100%%_%d.png", "100%_1.png"},
  };
  const std::string folder = velmora_test::fresh_folder("printf-patterns");
  for (const char* name : {"a0.png", "a1.png", "a3.png", "100%d.png", "100%_1.png"})
    std::ofstream(folder + "/" + name) << "x";
  for (const auto& c : cases) {
    const std::string input = folder + "/" + c.pattern;
    const scan::SequenceKind kind = scan::sequence_kind(input);
    std::string listed = "-";
    if (kind != scan::SequenceKind::none) {
      auto names = scan::list_images(input, kind);
      // A refusal names the pattern; anything else is shown as it is.
      if (!names)
        listed = names.error().message.find(c.pattern) != std::string::npos ? "refused" : names.error().message;
      else
        listed.clear();
      for (const std::string& name : names ? *names : std::vector<std::string>{})
        listed += (listed.empty() ? "" : " ") + name.substr(folder.size() + 1);
    }
    EXPECT_EQ(listed, c.listed) << c.pattern;
  }
}

// A day its month does not have was counted on into the next month: a file named on
// 31 February was taken for 3 March.
TEST(ParserFuzzFindings, ADayItsMonthLacksIsNoDate) {
  const auto iso = [](const std::optional<scan::WallTime>& t) {
    return t ? scan::iso_time(*t) : "";
  };
  const struct {
    std::optional<scan::WallTime> read;
    const char* want;  // empty: no time
  } cases[] = {
      {scan::name_clock("IMG_20260231_120000.jpg"), ""},
      {scan::exif_time("2026:02:29 10:00:00", "", ""), ""},
      {scan::parse_iso_time("2026-04-31T00:00:00Z"), ""},
      {scan::exif_time("2024:02:29 10:00:00", "", ""), "2024-02-29T10:00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(iso(c.read), c.want);
}

}  // namespace
