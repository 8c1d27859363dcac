// SPDX-License-Identifier: GPL-3.0-or-later
// The ring of scaled pictures: which picture stands for which slot, and what falls out.
#include <gtest/gtest.h>

#include "service/frame_pool.h"

namespace {

// Appends a 2x1 picture for `slot` whose pixels carry the slot number.
void put(service::FramePool& pool, int64_t slot) {
  uint32_t* pixels = pool.append(slot);
  ASSERT_NE(pixels, nullptr);
  pixels[0] = pixels[1] = static_cast<uint32_t>(slot);
}

int64_t shown(const service::FramePool& pool, int64_t slot) {
  const uint32_t* pixels = pool.find(slot);
  return pixels == nullptr ? -1 : static_cast<int64_t>(pixels[1]);
}

TEST(FramePool, PicturesStandForTheirSlotsAndTheGapsAfterThem) {
  service::FramePool pool;
  pool.configure(2, 1, 4, true);
  put(pool, 0);
  put(pool, 10);
  put(pool, 20);
  EXPECT_EQ(shown(pool, 0), 0);
  EXPECT_EQ(shown(pool, 9), 0);
  EXPECT_EQ(shown(pool, 10), 10);
  EXPECT_EQ(shown(pool, 20), 20);
  EXPECT_EQ(shown(pool, 21), -1);  // not known yet whether 21 has its own picture
  pool.cover_to(29);
  EXPECT_EQ(shown(pool, 29), 20);
  EXPECT_EQ(shown(pool, 30), -1);
  EXPECT_EQ(shown(pool, -1), -1);
}

TEST(FramePool, TheOldestPictureMakesRoomWhenFull) {
  service::FramePool pool;
  pool.configure(2, 1, 3, false);
  for (int64_t slot = 5; slot < 12; ++slot) put(pool, slot);
  EXPECT_EQ(pool.first_slot(), 9);
  EXPECT_EQ(pool.last_slot(), 11);
  EXPECT_EQ(shown(pool, 8), -1);
  for (int64_t slot = 9; slot <= 11; ++slot) EXPECT_EQ(shown(pool, slot), slot);
}

TEST(FramePool, APictureThatDoesNotFollowStartsAfresh) {
  service::FramePool pool;
  pool.configure(2, 1, 8, false);
  put(pool, 40);
  put(pool, 41);
  put(pool, 12);
  EXPECT_EQ(pool.first_slot(), 12);
  EXPECT_EQ(shown(pool, 40), -1);
  EXPECT_EQ(shown(pool, 12), 12);
}

TEST(FramePool, AnEmptyPoolKeepsNothing) {
  service::FramePool pool;
  pool.configure(2, 1, 0, true);
  EXPECT_EQ(pool.append(3), nullptr);
  EXPECT_EQ(pool.find(3), nullptr);
  pool.cover_to(9);
  EXPECT_TRUE(pool.empty());
}

}  // namespace
