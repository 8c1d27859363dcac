// SPDX-License-Identifier: GPL-3.0-or-later
// The plan of a run, from a request and what a source says of itself, without a picture:
// which frames become strips, the image's size, where the slit lies, and the requests that
// cannot be met, each with its message.
#include <gtest/gtest.h>

#include "scan/plan.h"

namespace {

struct Case {
  std::vector<std::string> words;
  decode::Orientation turn;
  bool length_known;
  std::string outcome;  // "strips from..to size slit" or the usage message
};

std::string plan_of(const Case& c) {
  std::vector<std::string> words{"velmora-scan"};
  words.insert(words.end(), c.words.begin(), c.words.end());
  words.insert(words.end(), {"in.avi", "out.png"});
  const scan::Parsed parsed = scan::parse_options(words);
  if (parsed.action != scan::Parsed::Action::run) return "unparsed: " + parsed.error;
  const scan::Request o = scan::with_line_layout(parsed.request);
  scan::ScanFrames frames;  // 100 frames at 25 a second
  frames.count = c.length_known ? 100 : 0;
  frames.fps = 25;
  const scan::SourceHeader source{64, 48, false, c.turn, c.length_known, &frames};
  auto place = scan::place_slit(o, source, false);
  if (!place) return place.error().message;
  auto plan = scan::plan_run(o, source, std::move(*place), nullptr, false, {});
  if (!plan) return plan.error().message;
  const scan::Rect& r = plan->place.slit;
  return std::to_string(plan->growing ? -1 : plan->strips) + " " +
         std::to_string(plan->choice.from) + ".." + std::to_string(plan->choice.to) + " " +
         std::to_string(plan->size.width) + "x" + std::to_string(plan->size.height) + " " +
         std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.width) + "," +
         std::to_string(r.height);
}

TEST(ScanPlan, FramesSizesAndSlitsComeFromTheRequestAndTheHeader) {
  const decode::Orientation upright{}, quarter{90, false};
  const Case cases[] = {
      {{}, upright, true, "100 0..100 100x48 32,0,1,48"},
      {{"--slit", "10:3"}, upright, true, "100 0..100 300x48 10,0,3,48"},
      {{"--cut", "horizontal", "--every", "10"}, upright, true, "10 0..100 64x10 0,24,64,1"},
      {{"--from", "2s", "--to", "3s", "--every", "5"}, upright, true, "5 50..75 5x48 32,0,1,48"},
      {{"--to", "1000"}, upright, true, "100 0..100 100x48 32,0,1,48"},
      // Shown 48 x 64, turned clockwise: column 10 as shown is stored row 47 - 10.
      {{"--slit", "10"}, quarter, true, "100 0..100 100x64 0,37,64,1"},
      {{"--slit", "70"}, upright, true, "--slit 70: outside the frame (64 columns, 0 to 63)"},
      {{"--slit", "60:5"}, upright, true, "--slit 60:5: the slit reaches past the frame (64 columns)"},
      {{"--slit", "50"}, quarter, true, "--slit 50: outside the frame (48 columns, 0 to 47)"},
      {{"--from", "100"}, upright, true, "--from 100: past the end of the clip (100 frames)"},
      {{"--from", "50", "--to", "20"}, upright, true, "--from 50: at or past --to 20 (frame 50 to frame 20)"},
      // Of unknown length: a strip at a time, from the first frame on.
      {{"--from", "1s"}, upright, false, "-1 25..9223372036854775807 1x48 32,0,1,48"},
      {{"--ticks"}, upright, false, "--ticks: not with an input of unknown length"},
      {{"--slit", "0..63"}, upright, false, "--slit 0..63: a moving slit needs an input of known length"},
  };
  for (const Case& c : cases) EXPECT_EQ(plan_of(c), c.outcome) << ::testing::PrintToString(c.words);
}

}  // namespace
