// SPDX-License-Identifier: GPL-3.0-or-later
// Deep Zoom tiles as OpenSeadragon reads them: NAME_files/LEVEL/COL_ROW.EXT, every level
// from 1 x 1 (level 0) to the full image, each the one above halved by 2 x 2 means, tiles
// of 254 pixels with one pixel of overlap on each side that has a neighbour. Every level
// is made as the strips come and keeps one band of tiles (256 lines across the image); a
// band's tiles are encoded on `threads` threads (the caller's and helpers that last as long
// as the DeepZoom) and written as soon as it is complete.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "scan/output/halving.h"
#include "scan/output/strip_image.h"

namespace scan {

enum class TileFormat { jpeg, png };

inline constexpr int64_t dzi_tile_size = 254;
inline constexpr int64_t dzi_overlap = 1;

// The deepest level, the full image's: the least L with both sides at most 2^L.
int dzi_max_level(const ImageSize& size);
// Level `level`'s size (sides halved, rounded up, once for each level below the deepest).
ImageSize dzi_level_size(const ImageSize& size, int level);
// Tiles along a side of `length`, and the lines [first, end) tile `t` covers with its overlap.
int64_t dzi_tiles(int64_t length);
struct TileSpan {
  int64_t first = 0, end = 0;
};
TileSpan dzi_tile_span(int64_t t, int64_t length);
// The tile file's name in its level's folder: "COL_ROW.jpeg" or ".png".
std::string dzi_tile_name(int64_t col, int64_t row, TileFormat format);
// The .dzi descriptor (XML) of an image of `size`.
std::string dzi_descriptor(const ImageSize& size, TileFormat format);

class DeepZoom {
 public:
  // Makes the level folders in `files` (NAME_files, or the temporary folder in its place).
  static base::Result<std::unique_ptr<DeepZoom>, base::Error> open(const std::string& files,
                                                                   const ImageSize& size,
                                                                   strips::Cut cut,
                                                                   TileFormat format,
                                                                   int quality, int threads);
  ~DeepZoom();
  DeepZoom(const DeepZoom&) = delete;
  DeepZoom& operator=(const DeepZoom&) = delete;

  // The next strip of the full image, as TiffBands::add takes it.
  base::Status add(const strips::ConstBytePlane& strip);
  // Writes every level's last band.
  base::Status finish();

  // Not for use: open() makes it.
  struct Level;
  class Crew;
  DeepZoom(std::string files, strips::Cut cut, TileFormat format, int quality, int threads);

 private:
  base::Status add_lines(Level& level, const strips::ConstBytePlane& lines);
  base::Status write_band(Level& level);

  std::string files_;
  strips::Cut cut_;
  TileFormat format_;
  int quality_;
  int threads_;
  std::vector<std::unique_ptr<Level>> levels_;  // the full image first, then each below
  std::unique_ptr<LevelChain> chain_;
  std::unique_ptr<Crew> crew_;  // the encoders beside the caller's thread
};

}  // namespace scan
