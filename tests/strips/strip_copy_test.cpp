// SPDX-License-Identifier: GPL-3.0-or-later
// The strip copy on plain pixel buffers: geometry, the edge, white beyond the capture.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "strips/strip_copy.h"

namespace {

using strips::Band;
using strips::copy_strip;
using strips::Cut;

constexpr uint32_t kWhite = 0xffffffffu;
constexpr uint32_t kUntouched = 0xff123456u;

// A pixel buffer with room to spare after each row, to catch writes past the width.
struct Buffer {
  int width, height, stride;
  std::vector<uint32_t> data;
  Buffer(int w, int h, uint32_t fill)
      : width(w), height(h), stride(w + 3), data(stride * h, fill) {}
  strips::Plane<uint32_t> view() { return {data.data(), width, height, stride}; }
  strips::Plane<const uint32_t> source() const { return {data.data(), width, height, stride}; }
  uint32_t at(int x, int y) const { return data[y * stride + x]; }
  bool padding_untouched() const {
    for (int y = 0; y < height; ++y)
      for (int x = width; x < stride; ++x)
        if (at(x, y) != kUntouched) return false;
    return true;
  }
};

// Every capture pixel tells where it came from; alpha left at 0 on purpose.
uint32_t source_colour(int x, int y) { return (uint32_t(x) << 12) | uint32_t(y); }

Buffer capture(int w = 320, int h = 240) {
  Buffer b(w, h, kUntouched);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.data[y * b.stride + x] = source_colour(x, y);
  return b;
}

uint32_t expected_source(const Buffer& cap, int x, int y) {
  if (x < 0 || y < 0 || x >= cap.width || y >= cap.height) return kWhite;
  return source_colour(x, y) | 0xff000000u;
}

TEST(StripCopy, VerticalStripLandsAtIndexTimesWidth) {
  Buffer cap = capture(), comp(320, 240, kUntouched);
  EXPECT_FALSE(copy_strip(cap.source(), comp.view(), Cut::vertical, {100, 110}, 3));
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) {
      const bool inside = x >= 30 && x <= 40;
      const uint32_t want = inside ? expected_source(cap, 100 + x - 30, y) : kUntouched;
      ASSERT_EQ(comp.at(x, y), want) << x << "," << y;
    }
  EXPECT_TRUE(comp.padding_untouched());
}

TEST(StripCopy, NextStripOverwritesTheLastLine) {
  Buffer cap = capture(), comp(320, 240, kUntouched);
  for (int16_t k = 0; k < 5; ++k) copy_strip(cap.source(), comp.view(), Cut::vertical, {100, 110}, k);
  for (int x = 0; x <= 50; ++x) {
    // Strip x / 10 is the last to cover column x.
    EXPECT_EQ(comp.at(x, 17), expected_source(cap, 100 + x % 10 + (x == 50 ? 10 : 0), 17)) << x;
  }
  EXPECT_EQ(comp.at(51, 17), kUntouched);
}

TEST(StripCopy, VerticalEdgeEndsTheStripAtTheWidth) {
  Buffer cap = capture(), comp(320, 240, kUntouched);
  EXPECT_FALSE(copy_strip(cap.source(), comp.view(), Cut::vertical, {100, 110}, 30));  // 300..310
  EXPECT_TRUE(copy_strip(cap.source(), comp.view(), Cut::vertical, {100, 110}, 31));   // 310..320
  EXPECT_EQ(comp.at(319, 0), expected_source(cap, 109, 0));
  EXPECT_TRUE(comp.padding_untouched());
  // A strip starting at the edge still counts as full and writes nothing.
  Buffer fresh(320, 240, kUntouched);
  EXPECT_TRUE(copy_strip(cap.source(), fresh.view(), Cut::vertical, {100, 110}, 32));
  EXPECT_TRUE(fresh.padding_untouched());
  for (uint32_t p : fresh.data) ASSERT_EQ(p, kUntouched);
}

TEST(StripCopy, BandBeyondTheCaptureReadsWhite) {
  Buffer cap = capture(), comp(320, 240, kUntouched);
  copy_strip(cap.source(), comp.view(), Cut::vertical, {315, 325}, 0);
  for (int x = 0; x <= 10; ++x) EXPECT_EQ(comp.at(x, 5), expected_source(cap, 315 + x, 5)) << x;
  EXPECT_EQ(comp.at(10, 5), kWhite);
  copy_strip(cap.source(), comp.view(), Cut::vertical, {-3, 5}, 2);  // destination 16..24
  EXPECT_EQ(comp.at(16, 9), kWhite);
  EXPECT_EQ(comp.at(19, 9), expected_source(cap, 0, 9));
  EXPECT_EQ(comp.at(24, 9), expected_source(cap, 5, 9));
}

TEST(StripCopy, WidthZeroAlwaysWritesColumnZeroAndNeverFills) {
  Buffer cap = capture(), comp(320, 240, kUntouched);
  for (int16_t k : {int16_t{0}, int16_t{1}, int16_t{500}, int16_t{32767}}) {
    EXPECT_FALSE(copy_strip(cap.source(), comp.view(), Cut::vertical, {77, 77}, k));
  }
  EXPECT_EQ(comp.at(0, 100), expected_source(cap, 77, 100));
  EXPECT_EQ(comp.at(1, 100), kUntouched);
}

TEST(StripCopy, HugeIndexNeitherWrapsNorWrites) {
  // 100 * 32767 wraps to a small 16-bit value; it must stay far beyond the pane.
  Buffer cap = capture(), comp(320, 240, kUntouched);
  EXPECT_TRUE(copy_strip(cap.source(), comp.view(), Cut::vertical, {0, 100}, 32767));
  EXPECT_TRUE(copy_strip(cap.source(), comp.view(), Cut::horizontal, {0, 100}, 32767));
  for (uint32_t p : comp.data) ASSERT_EQ(p, kUntouched);
}

TEST(StripCopy, BoundsOutOfOrderCopyNothing) {
  Buffer cap = capture(), comp(320, 240, kUntouched);
  EXPECT_FALSE(copy_strip(cap.source(), comp.view(), Cut::vertical, {50, 40}, 0));
  EXPECT_FALSE(copy_strip(cap.source(), comp.view(), Cut::horizontal, {50, 40}, 0));
  for (uint32_t p : comp.data) ASSERT_EQ(p, kUntouched);
}

TEST(StripCopy, HorizontalStripsStackFromTheTopUntilTheHeight) {
  Buffer cap = capture(), comp(320, 240, kUntouched);
  int16_t k = 0;
  while (!copy_strip(cap.source(), comp.view(), Cut::horizontal, {200, 230}, k)) ++k;
  EXPECT_EQ(k, 7);  // strip 7 covers rows 210..240 and reaches the height
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; x += 7)
      ASSERT_EQ(comp.at(x, y), expected_source(cap, x, 200 + y % 30));
  EXPECT_TRUE(comp.padding_untouched());
}

TEST(StripCopy, HorizontalRowsBeyondTheCaptureReadWhite) {
  Buffer cap = capture(), comp(320, 240, kUntouched);
  copy_strip(cap.source(), comp.view(), Cut::horizontal, {235, 245}, 1);  // rows 10..20
  EXPECT_EQ(comp.at(3, 14), expected_source(cap, 3, 239));
  EXPECT_EQ(comp.at(3, 15), kWhite);
  EXPECT_EQ(comp.at(319, 20), kWhite);
  EXPECT_EQ(comp.at(3, 21), kUntouched);
}

TEST(StripCopy, SmallerCompositeIsNotWrittenOutside) {
  Buffer cap = capture(), comp(100, 50, kUntouched);
  EXPECT_FALSE(copy_strip(cap.source(), comp.view(), Cut::vertical, {0, 60}, 1));
  EXPECT_FALSE(copy_strip(cap.source(), comp.view(), Cut::horizontal, {0, 30}, 1));
  EXPECT_TRUE(comp.padding_untouched());
  EXPECT_EQ(comp.at(99, 49), expected_source(cap, 99, 19));
}

}  // namespace
