// SPDX-License-Identifier: GPL-3.0-or-later
// The one reader of what an image's EXIF says (its orientation, when it was taken), for
// every format that carries it: a JPEG's APP1 segment, a PNG's eXIf chunk, a WebP's EXIF
// chunk and a TIFF's own directories. All are a TIFF header and directories, read here
// by one rule:
// - a directory claiming more entries than its bytes hold is read as far as they go;
// - of two entries of one tag in a directory the first counts, whatever it holds;
// - Orientation counts only as one SHORT of 1 to 8, in the first directory;
// - the times are ASCII, from the Exif directory, else from the first directory.
// Anything else (a malformed entry, a value outside the bytes) is as if absent.
// (libexif stops at 64 KiB, short of a TIFF's directories, which usually follow its
// pixels; libtiff wants an image's directory, which an EXIF block is not.)
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace scan {

struct ExifFacts {
  std::optional<int> orientation;  // 1 to 8
  // DateTimeOriginal, SubSecTimeOriginal and OffsetTimeOriginal as written; empty when
  // absent.
  std::string date_time, subsec, offset;
};

// The EXIF of a whole image file, JPEG, PNG, WebP or TIFF by its first bytes; nothing of
// any other format, or of one without EXIF.
ExifFacts read_exif(std::span<const uint8_t> file);

// An EXIF block alone: a TIFF header and its directories, with or without the "Exif\0\0"
// a JPEG's APP1 segment puts before them (some writers keep it elsewhere too).
ExifFacts read_exif_block(std::span<const uint8_t> block);

// The EXIF of the file at `path`; nothing when it cannot be read.
ExifFacts read_exif_file(const std::string& path);

}  // namespace scan
