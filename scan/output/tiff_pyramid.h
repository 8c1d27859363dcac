// SPDX-License-Identifier: GPL-3.0-or-later
// A pyramidal TIFF: the full image as the flat tiled TIFF writes it, and below it, as its
// SubIFDs, each level halved (2 x 2 means, rounded half up) down to one that fits in a
// tile. Every level is made as the strips come and written band by band into an unnamed
// file of its own beside OUTPUT; at the end their compressed tiles are copied into OUTPUT.
// Memory holds one band of tiles a level, however long the image. The reduced levels are
// made and compressed on a thread of their own, beside the full image's: each level is
// still written by one thread in one order, so the bytes are the same however it runs.
#pragma once
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "scan/output/halving.h"
#include "scan/output/strip_image.h"
#include "scan/output/tiff_output.h"

namespace scan {

class TiffPyramid {
 public:
  // Starts the pyramid on `fd` (the caller's, as TiffBands'); the levels' files are made
  // in `folder`.
  static base::Result<std::unique_ptr<TiffPyramid>, base::Error> open(
      int fd, const std::string& folder, const ImageSize& size, strips::Cut cut,
      TiffCompression compression);
  ~TiffPyramid();
  TiffPyramid(const TiffPyramid&) = delete;
  TiffPyramid& operator=(const TiffPyramid&) = delete;

  // As TiffBands::add.
  base::Status add(const strips::ConstBytePlane& strip);
  // Finishes every level and writes them into the file.
  base::Status finish();

  // Not for use: open() makes it.
  TiffPyramid(strips::Cut cut, TiffCompression compression);

 private:
  struct Level {
    int fd = -1;  // the level's own unnamed file
    std::unique_ptr<TiffBands> bands;
  };

  strips::Cut cut_;
  TiffCompression compression_;
  std::unique_ptr<TiffBands> full_;
  // A strip copied for the levels' thread.
  struct Copy {
    std::vector<uint8_t> bytes;
    int64_t width = 0, height = 0;  // as the strip's plane: bytes a row, and rows
  };
  void make_levels();  // the levels' thread
  void stop_levels();

  std::vector<Level> levels_;  // the reduced ones, largest first
  std::unique_ptr<LevelChain> chain_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Copy> queue_, spare_;
  bool closing_ = false;
  std::optional<base::Error> error_;  // the levels' first failure
  std::thread levels_thread_;
};

}  // namespace scan
