// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan's strips: exactly W lines, W apart, every byte of a deep pixel carried,
// and nothing written outside the image.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "strips/exact_strips.h"

namespace {

using strips::Cut;

struct Bytes {
  int width, height, pixel_bytes;
  std::vector<uint8_t> data;
  Bytes(int w, int h, int pb, uint8_t fill)
      : width(w), height(h), pixel_bytes(pb), data(w * h * pb, fill) {}
  int64_t stride() const { return int64_t{width} * pixel_bytes; }
  strips::BytePlane plane() { return {data.data(), stride(), height, stride()}; }
  strips::ConstBytePlane view() const { return {data.data(), stride(), height, stride()}; }
  uint8_t at(int x, int y, int b) const { return data[(y * width + x) * pixel_bytes + b]; }
};

// Every byte tells where it came from.
Bytes numbered_source(int w, int h, int pb) {
  Bytes source(w, h, pb, 0);
  std::iota(source.data.begin(), source.data.end(), uint8_t{1});
  return source;
}

TEST(ExactStrips, VerticalStripsLieSideBySideWithoutOverlap) {
  for (int pb : {3, 6}) {
    const int slit = 3, strips = 4;
    Bytes source = numbered_source(10, 5, pb);
    Bytes image(slit * strips + 2, 5, pb, 0xEE);  // two columns to spare
    const strips::ExactStrip strip{Cut::vertical, pb, 4, slit};
    for (int k = 0; k < strips; ++k)
      EXPECT_FALSE(strips::place_strip(source.view(), image.plane(), strip, k));
    for (int k = 0; k < strips; ++k)
      for (int x = 0; x < slit; ++x)
        for (int y = 0; y < 5; ++y)
          for (int b = 0; b < pb; ++b)
            ASSERT_EQ(image.at(k * slit + x, y, b), source.at(4 + x, y, b)) << k << " " << x;
    for (int y = 0; y < 5; ++y) EXPECT_EQ(image.at(strips * slit, y, 0), 0xEE);
  }
}

TEST(ExactStrips, HorizontalStripsLieOneUnderAnother) {
  const int pb = 6, slit = 2;
  Bytes source = numbered_source(7, 9, pb);
  Bytes image(7, slit * 3, pb, 0);
  const strips::ExactStrip strip{Cut::horizontal, pb, 5, slit};
  EXPECT_FALSE(strips::place_strip(source.view(), image.plane(), strip, 0));
  EXPECT_FALSE(strips::place_strip(source.view(), image.plane(), strip, 1));
  EXPECT_TRUE(strips::place_strip(source.view(), image.plane(), strip, 2));  // the last rows
  for (int k = 0; k < 3; ++k)
    for (int y = 0; y < slit; ++y)
      for (int x = 0; x < 7; ++x) ASSERT_EQ(image.at(x, k * slit + y, 5), source.at(x, 5 + y, 5));
}

TEST(ExactStrips, AStripPastTheImageWritesNothing) {
  Bytes source = numbered_source(8, 4, 3);
  Bytes image(6, 4, 3, 0xEE);
  const strips::ExactStrip strip{Cut::vertical, 3, 0, 2};
  EXPECT_TRUE(strips::place_strip(source.view(), image.plane(), strip, 2));
  strips::place_strip(source.view(), image.plane(), strip, 3);
  strips::place_strip(source.view(), image.plane(), strip, 100);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(image.at(x, y, 0), 0xEE);
}

}  // namespace
