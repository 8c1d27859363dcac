// SPDX-License-Identifier: GPL-3.0-or-later
// The image strips are laid into starts black: a strip no picture fills must not show
// whatever the memory held before.
#include <gtest/gtest.h>

#include <algorithm>

#include "scan/output/strip_image.h"

namespace {

TEST(StripImage, StartsBlackAlsoInMemoryUsedBefore) {
  // Small images come from memory the allocator hands out again; large ones from new pages.
  const scan::ImageSize sizes[] = {{7, 5, 3}, {40, 30, 6}, {3000, 1000, 3}};
  for (const scan::ImageSize& size : sizes) {
    {
      scan::StripImage used;
      ASSERT_TRUE(used.allocate(size));
      const strips::BytePlane plane = used.plane();
      std::fill_n(plane.pixels, size.bytes(), uint8_t{0xab});
    }
    scan::StripImage image;
    ASSERT_TRUE(image.allocate(size));
    int64_t written = 0;
    for (int64_t y = 0; y < size.height; ++y)
      written += std::count_if(image.row(y), image.row(y) + image.stride(),
                               [](uint8_t byte) { return byte != 0; });
    EXPECT_EQ(written, 0) << size.width << " x " << size.height;
  }
}

}  // namespace
