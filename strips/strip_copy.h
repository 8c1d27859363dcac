// SPDX-License-Identifier: GPL-3.0-or-later
// One strip of the streak image: the band of the captured frame copied into the composite.
// Shared by both editions; knows nothing of panes or window state.
#pragma once
#include <cstdint>

#include "strips/strip_lines.h"

namespace strips {

// First and last column (vertical cut) or row (horizontal cut) of the band, both included.
struct Band {
  int16_t first = 0;
  int16_t last = 0;
};

// Copies `band` of `capture` into `composite` as strip number `index`, red, green and blue
// unchanged. A strip is last - first + 1 lines wide and strips start last - first apart, so
// each strip's last line is overwritten by the next strip's first. Source pixels beyond the
// capture read as white; nothing is written outside the composite.
// Returns true when a destination line reached the capture's width (height): the composite
// is full, and the band's lines after that one are left out.
// Pixels are 0xffRRGGBB.
bool copy_strip(const Plane<const uint32_t>& capture, const Plane<uint32_t>& composite, Cut cut,
                Band band, int16_t index);

}  // namespace strips
