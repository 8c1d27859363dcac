// SPDX-License-Identifier: GPL-3.0-or-later
// A multi-page TIFF (a microscope's time-lapse, an ImageJ hyperstack) read as a clip whose
// frames are its time points. Pages are read with libtiff, and of each only the strips or
// tiles that hold the rows and columns the slits need.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "decode/ffmpeg_handles.h"
#include "scan/input/frame_source.h"

struct tiff;

namespace scan {

// Which plane of a hyperstack makes the kymograph: 1-based, 0 when not given.
struct StackPick {
  int z = 0;
  int channel = 0;
  double interval = 0;  // seconds between time points, for the stack's own; 0: its own
};

// What an ImageJ ImageDescription says of the pages ("ImageJ=1.54f\nimages=60\n...").
struct ImageJDescription {
  int64_t images = 0, channels = 1, slices = 1, frames = 1;
  std::string unit;
  double spacing = 0, finterval = 0;
  double pixel_width = 0;  // an OME-TIFF's PhysicalSizeX in `unit` (ImageJ's is in the resolution tags)
};

// What the stack says of its scale: the width of a pixel in `unit` (0: not said) and the
// time from one time point to the next in seconds (0: not said).
struct StackCalibration {
  std::string unit;
  double pixel_size = 0;
  double interval = 0;
};

// The description's keys, or nothing when `text` is not ImageJ's.
std::optional<ImageJDescription> parse_imagej_description(const std::string& text);

// How a stack's pages are cut into strips or tiles.
struct TiffChunkLayout {
  bool tiled = false;
  uint32_t rows = 0, columns = 0;  // rows a strip (columns: the width), or a tile's size
  uint32_t height = 0;
  int sample_bytes = 1, pixel_bytes = 1;

  bool operator==(const TiffChunkLayout& o) const {
    return tiled == o.tiled && rows == o.rows && columns == o.columns;
  }
  uint64_t chunk_bytes() const { return uint64_t{rows} * columns * pixel_bytes; }
};

class TiffStack : public FrameSource {
 public:
  // Whether `path` names a TIFF of more than one page, or one ImageJ calls a stack.
  static bool is_stack(const std::string& path);
  // The same, for a name ending in .tif or .tiff (any case) only.
  static bool named_stack(const std::string& path);
  // The channels its ImageJ description counts: 1 when it counts none.
  static int channels_in(const std::string& path);
  // Reads every page's directory: pages of another size or kind than the first, a
  // description at odds with the pages and a pick outside the stack are refused here.
  [[nodiscard]] static base::Result<std::unique_ptr<TiffStack>, base::Error> open(
      const std::string& path, StackPick pick);
  ~TiffStack() override;

  int width() const override { return width_; }
  int height() const override { return height_; }
  bool deep() const override { return deep_; }
  int pixel_bytes() const override { return pixel_bytes_; }
  const StackCalibration& calibration() const { return calibration_; }
  const decode::DisplayMatrix& display() const override { return display_; }
  const ScanFrames& frames() const override { return frames_; }
  void read_only(Rect area) override;
  bool choose(FrameChoice choice) override;
  const AVFrame* next(int64_t& frame) override;
  const FrameStamp& stamp() const override { return stamp_; }
  bool broke_off() const override { return false; }
  int read_error() const override { return 0; }
  int64_t damaged() const override { return damaged_; }
  std::vector<std::string> warnings() const override;

 private:
  TiffStack() = default;
  // The page of time point `t`.
  size_t page_of(int64_t t) const;
  // Reads page `page`'s strips or tiles over area_ into picture_; false when one fails
  // (those read before it are kept, the rest is black).
  bool read_page(size_t page);
  // Strips over rows [top, bottom) as their uncompressed bytes lie in the file; false when
  // one is short (rows already read are read again the decoding way).
  // The area of a page whose samples lie packed from `start` (see packed_), read by
  // offset without its directory; false when the file is short there.
  bool read_packed(uint64_t start);
  bool read_raw_strips(int top, int bottom, int rows, size_t row_bytes);

  struct Closer {
    void operator()(tiff* t) const;
  };
  // The open file libtiff reads the stack's directories through (declared first: it
  // outlives the handle).
  struct ReadFile;
  struct FileCloser {
    void operator()(ReadFile* f) const;
  };
  std::unique_ptr<ReadFile, FileCloser> file_;
  std::unique_ptr<tiff, Closer> tiff_;
  std::string path_;
  std::vector<uint64_t> offsets_;  // each page's directory
  int width_ = 0, height_ = 0;
  bool deep_ = false;
  int pixel_bytes_ = 1;
  bool tiled_ = false;
  decode::DisplayMatrix display_;
  ScanFrames frames_;
  int64_t stride_ = 1;  // pages from one time point to the next
  int64_t first_ = 0;   // the page of time point 0
  std::vector<int64_t> pages_;  // an OME-TIFF's: the page of each plane first_ and stride_ count
  std::optional<Rect> area_;
  TiffChunkLayout layout_;  // the first page's strips or tiles
  // Each page's: where its samples start when they lie uncompressed, in this machine's
  // order, chunk after chunk in layout_ with no gap (as libtiff and ImageJ write them), so
  // any row is found by arithmetic; -1 when they do not.
  std::vector<int64_t> packed_;
  std::vector<uint8_t> run_;  // the bytes of one packed read, when they cannot go in place
  std::vector<uint8_t> chunk_;  // one strip or tile as libtiff decodes it
  decode::FramePtr picture_;
  FrameChoice choice_;
  int64_t next_wanted_ = 0;
  FrameStamp stamp_;
  int64_t damaged_ = 0;
  std::string first_damaged_page_;
  std::string libtiff_error_;  // what libtiff last reported about the open file
  std::string broken_;  // why the directories end early, when they do
  double interval_ = 0;
  StackCalibration calibration_;
};

}  // namespace scan
