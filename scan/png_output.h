// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the streak image as a PNG with libpng, row by row from the image in memory.
#pragma once
#include <cstdio>
#include <string>

#include "base/result.h"
#include "scan/strip_image.h"

namespace scan {

// Writes `image` to `file`, or says why the PNG could not be written. Stops (and says so)
// when a signal arrives.
base::Result<void, std::string> write_png(std::FILE* file, const StripImage& image);

}  // namespace scan
