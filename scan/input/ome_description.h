// SPDX-License-Identifier: GPL-3.0-or-later
// The OME-XML an OME-TIFF keeps in its first page's ImageDescription: how many channels,
// slices and time points its pages hold, in which order, and its calibration. Only data
// in this one file is read; a dataset spread over several files is refused.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace scan {

struct OmeDescription {
  int64_t channels = 1, slices = 1, frames = 1;  // SizeC (planes, not samples), SizeZ, SizeT
  std::string order = "XYCZT";                   // DimensionOrder
  double pixel_width = 0;   // PhysicalSizeX in `unit`; 0: not stated
  std::string unit;         // PhysicalSizeXUnit ("µm" when PhysicalSizeX has none)
  // Seconds between time points: TimeIncrement, else the mean step of the first channel and
  // slice's planes' DeltaT from the first time point to the last; 0: not stated.
  double interval = 0;
  // The page of every plane, the planes counted channel fastest, then slice, then time
  // point (ImageJ's order); from TiffData where given, else the pages in DimensionOrder.
  std::vector<int64_t> pages;
};

// Nothing when `text` is not OME-XML; the reason when it is, but damaged, at odds with
// itself, names another file (`file` is this one's path) or a unit that is not known.
[[nodiscard]] base::Result<std::optional<OmeDescription>, base::Error> parse_ome_description(
    const std::string& text, const std::string& file);

// Time points whose page of the plane at `first` (channel and slice), `stride` planes apart,
// lies among the file's `pages` pages: up to the first that does not.
int64_t ome_points(const std::vector<int64_t>& pages, int64_t first, int64_t stride, int64_t count);

}  // namespace scan
