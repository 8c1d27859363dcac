// SPDX-License-Identifier: GPL-3.0-or-later
// How an image file asks to be turned for showing: its EXIF orientation (a JPEG's APP1, a
// PNG's eXIf chunk, a WebP's EXIF chunk, a TIFF's Orientation tag), read by one reader
// (scan/exif_reader.h) for every format.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "decode/display_orientation.h"

namespace scan {

// The display matrix of EXIF / TIFF orientation 1 to 8, as FFmpeg makes it for a JPEG's;
// none for other numbers.
std::optional<decode::DisplayMatrix> exif_orientation_matrix(int orientation);

// The orientation `file` (a whole JPEG, TIFF, PNG or WebP file) carries; none when it
// carries none, is of another format, or is malformed where the orientation would be.
std::optional<decode::DisplayMatrix> image_orientation(std::span<const uint8_t> file);
// The same of the file at `path`; none when it cannot be read.
std::optional<decode::DisplayMatrix> image_orientation(const std::string& path);

}  // namespace scan
