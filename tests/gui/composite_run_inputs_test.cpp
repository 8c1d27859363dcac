// SPDX-License-Identifier: GPL-3.0-or-later
// What a run reads before and between strips: the frames-per-strip text and the tick slots.
#include <gtest/gtest.h>

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "composite/frames_per_strip.h"
#include "composite/pacing.h"
#include "service/tick.h"

namespace {

using composite::frames_per_strip;
using composite::slot_of;

TEST(FramesPerStrip, NumbersConvertWithHalvesToEven) {
  const std::vector<std::pair<QString, int>> cases = {{"1", 1},
                                                      {" 7 ", 7},
                                                      {"2.5", 2},
                                                      {"3.5", 4},
                                                      {"-2.5", -2},
                                                      {"32767", 32767},
                                                      {"-32768", -32768},
                                                      {"+3", 3},
                                                      {".5", 0},
                                                      {"1e2", 100},
                                                      {"32767.4", 32767},
                                                      {"-32768.5", -32768},
                                                      {"0", 0},
                                                      {"\t12\t", 12},
                                                      {QStringLiteral("３"), 3},
                                                      {QStringLiteral("　５　"), 5},
                                                      {QStringLiteral("－４"), -4}};
  for (const auto& [text, want] : cases) {
    const auto got = frames_per_strip(text);
    ASSERT_TRUE(got.has_value()) << text.toStdString();
    EXPECT_EQ(*got, want) << text.toStdString();
  }
}

TEST(FramesPerStrip, AnythingElseIsRefused) {
  for (const QString& text :
       {QString(), QStringLiteral("   "), QStringLiteral("abc"), QStringLiteral("99999"),
        QStringLiteral("32768"), QStringLiteral("32767.5"), QStringLiteral("-32769"),
        QStringLiteral("1,000"), QStringLiteral("0x10"), QStringLiteral("inf"),
        QStringLiteral("nan"), QStringLiteral("1 2"), QStringLiteral("3abc"),
        QStringLiteral("1e999"), QStringLiteral("\u0663")}) {
    EXPECT_FALSE(frames_per_strip(text).has_value()) << text.toStdString();
  }
}

TEST(Pacing, SlotsRoundHalvesToEven) {
  EXPECT_EQ(slot_of(0), 0);
  EXPECT_EQ(slot_of(149), 0);
  EXPECT_EQ(slot_of(150), 0);
  EXPECT_EQ(slot_of(151), 1);
  EXPECT_EQ(slot_of(449), 1);
  EXPECT_EQ(slot_of(450), 2);
  EXPECT_EQ(slot_of(750), 2);
  EXPECT_EQ(slot_of(751), 3);
  EXPECT_EQ(slot_of(-150), 0);
  EXPECT_EQ(slot_of(-151), -1);
  EXPECT_EQ(slot_of(-450), -2);
  EXPECT_EQ(slot_of(INT32_MAX), 7158279);   // 7158278.8...
  EXPECT_EQ(slot_of(INT32_MIN), -7158279);  // -7158278.8...
}

// Scripted ticks, with every read and every step written down in order.
class ScriptedTicks : public ::testing::Test {
 protected:
  void script(std::vector<int32_t> ticks) {
    ticks_ = std::move(ticks);
    service::set_tick_source([this]() -> int32_t {
      // Past the script the clock moves one slot per read.
      last_ = next_ < ticks_.size() ? ticks_[next_++] : last_ + 300;
      log_.push_back(std::to_string(last_));
      return last_;
    });
  }
  void TearDown() override { service::set_tick_source({}); }
  std::vector<int32_t> ticks_;
  size_t next_ = 0;
  int32_t last_ = 0;
  std::vector<std::string> log_;
};

TEST_F(ScriptedTicks, EachStepWaitsForTheNextSlot) {
  script({0, 100, 149, 150, 151, 300, 449, 450});
  composite::paced_steps(2, [this] { log_.push_back("step"); });
  const std::vector<std::string> want = {"0",   "step", "100",  "149", "150",
                                         "151", "300",  "step", "449", "450"};
  EXPECT_EQ(log_, want);
}

TEST_F(ScriptedTicks, ASlotAlreadyOverLetsTheNextStepGoAtOnce) {
  script({1000, 1400, 1400, 2000});
  composite::paced_steps(3, [this] { log_.push_back("step"); });
  const std::vector<std::string> want = {"1000", "step", "1400", "1400", "step",
                                         "2000", "2300", "step", "2600"};
  EXPECT_EQ(log_, want);
}

TEST_F(ScriptedTicks, NoStepsForZeroOrLess) {
  script({0});
  composite::paced_steps(0, [this] { log_.push_back("step"); });
  composite::paced_steps(-5, [this] { log_.push_back("step"); });
  EXPECT_TRUE(log_.empty());
}

TEST_F(ScriptedTicks, WrappedTickCountStillEndsTheWait) {
  script({INT32_MAX - 10, INT32_MAX, INT32_MIN});
  composite::paced_steps(1, [this] { log_.push_back("step"); });
  EXPECT_EQ(log_.size(), 4u);
  EXPECT_EQ(log_[1], "step");
}

}  // namespace
