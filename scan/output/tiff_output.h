// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the streak image as a tiled TIFF with libtiff while the strips come in. Each tile
// is compressed and written as soon as its last strip is in, so only one band of tiles is
// held: a tile column (256 columns, full height) for a vertical cut, a tile row (full
// width, 256 rows) for a horizontal one, however long the clip.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "scan/output/strip_image.h"
#include "strips/exact_strips.h"

typedef struct tiff TIFF;

namespace scan {

enum class TiffCompression { deflate, zstd, lzw, none };

inline constexpr int64_t tiff_tile_side = 256;
// TIFF stores each side in 32 bits.
inline constexpr int64_t tiff_max_side = 4294967295;

// Whether this libtiff can write `compression` (zstd depends on how it was built).
bool tiff_can_write(TiffCompression compression);

// Whether the file for an image of `size` could pass classic TIFF's 4 GiB of offsets with
// `compression` at its worst (edge tiles are stored whole), and so must be a BigTIFF.
bool needs_bigtiff(const ImageSize& size, TiffCompression compression);
// The same for a file holding all of `levels`.
bool needs_bigtiff(const std::vector<ImageSize>& levels, TiffCompression compression);

// What an ImageJ TIFF says of its scale: the size of a pixel across (x) and down (y), each
// in its unit as ImageJ spells it ("micron", "sec", ...); an empty unit: not calibrated.
// `finterval`: seconds from one time point to the next, 0 when not known.
struct ImageJScale {
  std::string x_unit, y_unit;
  double x_size = 0, y_size = 0;
  double finterval = 0;
};

// The ImageDescription ImageJ reads for `channels` pages of one image each.
std::string imagej_description(int64_t channels, const ImageJScale& scale);

// Writes `channels` (alike in size and depth) to `fd` as one ImageJ TIFF, laid out as
// ImageJ writes its own and reads a stack: a classic little-endian TIFF, one uncompressed
// strip a page, every page's pixels back to back after the header, then the directories;
// one page a channel (a 16-bit RGB image's components as three channels), the scale in the
// description and in the resolution tags as pixels per unit with no TIFF unit.
base::Status write_imagej_tiff(int fd, const std::vector<const StripImage*>& channels,
                               const ImageJScale& scale);

class TiffBands {
 public:
  // Starts the TIFF on `fd` (which stays open and the caller's): RGB at 8 or 16 bits as
  // `size` says, tiles 256 x 256, the horizontal predictor with any compression.
  // `subifds`: reduced levels that end_image() and append_level() will add below it.
  static base::Result<std::unique_ptr<TiffBands>, base::Error> open(int fd, const ImageSize& size,
                                                                    strips::Cut cut,
                                                                    TiffCompression compression,
                                                                    bool bigtiff, int subifds = 0);
  ~TiffBands();
  TiffBands(const TiffBands&) = delete;
  TiffBands& operator=(const TiffBands&) = delete;

  // Appends the next strip: whole columns (vertical cut) or rows (horizontal) of the image
  // in its packed RGB, 16-bit samples big-endian. Writes every tile the strip completes.
  base::Status add(const strips::ConstBytePlane& strip);
  // Writes the last, partly filled band and the directory.
  base::Status finish();

  // With SubIFDs, instead of finish(): end_image() writes the last band and the image's
  // directory, append_level() then copies each level's tiles, as compressed, from the
  // finished TIFF of one image in `fd` (read from its start), and close() ends the file.
  base::Status end_image();
  base::Status append_level(int fd, TiffCompression compression);
  base::Status close();

  // Not for use: open() makes them.
  struct Client;
  TiffBands(std::unique_ptr<Client> client, const ImageSize& size, strips::Cut cut);

 private:
  base::Status write_band();
  base::Status failure(const std::string& what) const;

  std::unique_ptr<Client> client_;
  TIFF* tiff_ = nullptr;
  ImageSize size_;
  strips::Cut cut_;
  int64_t across_ = 0;  // the band's padded length across the cut, in pixels
  int64_t lines_ = 0;   // columns (rows) of the image added so far
  std::vector<uint8_t> band_, tile_;
};

}  // namespace scan
