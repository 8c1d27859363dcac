// SPDX-License-Identifier: GPL-3.0-or-later
// Numbers read out of reply texts: what the length and position requests turn into.
#include "media/reply_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(ReplyValue, ReadsTheLeadingNumberOnly) {
  EXPECT_EQ(media::reply_value("1234"), 1234);
  EXPECT_EQ(media::reply_value("   42"), 42);
  EXPECT_EQ(media::reply_value("\t7 frames"), 7);
  EXPECT_EQ(media::reply_value("12abc"), 12);
  EXPECT_EQ(media::reply_value("-3"), -3);
  EXPECT_EQ(media::reply_value("2.5"), 2.5);
  EXPECT_EQ(media::reply_value("1e3"), 1000);
  EXPECT_EQ(media::reply_value("1e"), 1);
  EXPECT_EQ(media::reply_value("99999999999"), 99999999999.0);
}

TEST(ReplyValue, DescriptionsAndEmptyTextReadAsZero) {
  EXPECT_EQ(media::reply_value(""), 0);
  EXPECT_EQ(media::reply_value("   "), 0);
  EXPECT_EQ(media::reply_value("-"), 0);
  EXPECT_EQ(media::reply_value("."), 0);
  EXPECT_EQ(media::reply_value("指定されたデバイスは開かれていません。"), 0);
  EXPECT_EQ(media::reply_value("nan"), 0);
}

TEST(NearestInt32, RoundsHalvesToEvenAndSaturates) {
  EXPECT_EQ(media::nearest_int32(2.5), 2);
  EXPECT_EQ(media::nearest_int32(3.5), 4);
  EXPECT_EQ(media::nearest_int32(-2.5), -2);
  EXPECT_EQ(media::nearest_int32(2.4999), 2);
  EXPECT_EQ(media::nearest_int32(40000), 40000);
  EXPECT_EQ(media::nearest_int32(1e12), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(media::nearest_int32(-1e12), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(media::nearest_int32(std::numeric_limits<double>::infinity()),
            std::numeric_limits<int32_t>::max());
  EXPECT_EQ(media::nearest_int32(std::nan("")), 0);
}

}  // namespace
