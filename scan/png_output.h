// Writes the streak image as a PNG with libpng, row by row from the image in memory.
#pragma once
#include <cstdio>
#include <string>

#include "scan/strip_image.h"

namespace scan {

// Empty, or why the PNG could not be written. Stops (and says so) when a signal arrives.
std::string write_png(std::FILE* file, const StripImage& image);

}  // namespace scan
