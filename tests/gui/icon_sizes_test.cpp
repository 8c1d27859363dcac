// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop icons are the window's icon made larger pixel by pixel: no blended colours.
#include <gtest/gtest.h>

#include <QImage>
#include <set>

#include "window/icon.h"

namespace {

std::set<QRgb> colours(const QImage& image) {
  std::set<QRgb> found;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) found.insert(image.pixel(x, y) | 0xff000000u);
  return found;
}

TEST(IconSizes, WholeMultiplesRepeatEachPixelAsABlock) {
  const QImage icon = window::app_icon_image();
  for (int size : {32, 64, 128, 256}) {
    const QImage big = window::app_icon_at(size);
    ASSERT_EQ(big.size(), QSize(size, size));
    const int block = size / 32;
    int wrong = 0;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x)
        wrong += big.pixel(x, y) != icon.pixel(x / block, y / block);
    EXPECT_EQ(wrong, 0) << size;
  }
}

TEST(IconSizes, OtherSizesUseOnlyTheIconsOwnColours) {
  const std::set<QRgb> own = colours(window::app_icon_image());
  ASSERT_EQ(own.size(), 3u) << "olive, black and red";
  for (int size : {16, 48}) {
    const QImage image = window::app_icon_at(size);
    ASSERT_EQ(image.size(), QSize(size, size));
    EXPECT_EQ(colours(image), own) << size;
  }
}

}  // namespace
