// SPDX-License-Identifier: GPL-3.0-or-later
// The band of tick marks and time labels beside the streak image (--ticks): below it when
// the strips run left to right, right of it when they run top to bottom. White marks and
// text on black, drawn with FreeType in a face fontconfig picks.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"
#include "scan/time_axis.h"
#include "strips/exact_strips.h"

namespace scan {

struct BandLayout {
  bool along_width = true;  // the time axis runs along the band's width (a band below)
  int font_pixels = 12;
  int64_t thickness = 0;    // rows (a band below) or columns (a band to the right)
  double min_spacing = 0;   // pixels between ticks, so that labels do not collide
};

// The band for an image whose side across the time axis is `across` pixels.
BandLayout band_layout(bool along_width, int64_t across);

// Draws `ticks` into `band` (packed RGB, `pixel_bytes` 3 or 6; the band is cleared to black
// first), or says why no font could be had.
base::Result<void, std::string> draw_tick_band(const strips::BytePlane& band, int pixel_bytes,
                                               const BandLayout& layout,
                                               const std::vector<Tick>& ticks);

}  // namespace scan
