// SPDX-License-Identifier: GPL-3.0-or-later
// Where a run's strips go. Every strip comes laid alone in a one-strip image, its share of
// the band of time marks beside it. A sink writes its file under a temporary name; the run
// commits the files of all its sinks together, all or none. A new kind of output is a new
// sink, not a new branch in the run.
#pragma once
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/result.h"
#include "base/should_stop.h"
#include <optional>
#include <vector>

#include "scan/input/frame_source.h"
#include "scan/options.h"
#include "scan/output/deep_zoom.h"
#include "scan/output/growing_image.h"
#include "scan/output/output_file.h"
#include "scan/output/strip_image.h"
#include "scan/scan.h"
#include "scan/time/timeline.h"

namespace scan {

// What every sink is told of the run.
struct SinkSetting {
  std::string output;        // OUTPUT
  strips::Cut cut = strips::Cut::vertical;
  int64_t strip_lines = 1;   // a strip's columns (rows of a horizontal cut)
  int threads = 1;
  bool force = false;        // files already there are replaced
  TiffCompression compress = TiffCompression::deflate;
  base::ShouldStop stop;               // asked while writing
  std::function<Error()> interrupted;  // the error of a run asked to stop
  TileFormat tile_format = TileFormat::jpeg;  // Deep Zoom's tiles
  int quality = 90;                           // a JPEG's or WebP's
  // A watched folder's images: each strip's clock is its image's by this, not its arrival.
  std::optional<ClockSource> image_clock;
  ImageJScale imagej_scale;  // an ImageJ TIFF's
};

// Strip k as laid, with what is known of its picture.
struct Laid {
  int64_t k = 0;
  const StripImage& strip;
  const FrameStamp* stamp = nullptr;  // null for a --bin interval without a frame
  // What the strip shows besides its own frame's picture: the picture before (repeat), or
  // its own damaged one.
  std::optional<StripNote> note;
  // When it came, for an input of unknown length: taken once, so that every sink records
  // the same moment.
  std::optional<WallTime> arrived = {};
  // A strip an earlier run of a watch laid, with its record as then: laid again from its
  // state file, never flushed on its own.
  const StripRecord* restored = nullptr;
};

class Sink {
 public:
  virtual ~Sink() = default;
  // Makes ready for an image of `size` and allocates `strip`, the one-strip image the
  // strips come in.
  virtual base::Result<void, Error> begin(const ImageSize& size, StripImage& strip) = 0;
  virtual base::Result<void, Error> take(const Laid& laid) = 0;
  // Writes the rest under the temporary name.
  virtual base::Result<void, Error> finish() = 0;
  // Flushes and syncs the file: all that may fail before it lands.
  virtual base::Result<void, Error> seal() { return {}; }
  // The file to commit; null for a sink that writes none.
  virtual TempOutput* file() { return nullptr; }
  // Whether its file replaces one already there (--force, or a stream's --flush that put
  // the image so far in OUTPUT's place).
  virtual bool replaces() const { return false; }
  // A file about the images (the timeline) lands before them, so that it is there when
  // they are, and is taken back when they cannot land.
  virtual bool lands_first() const { return false; }
  // Puts the file (and what goes with it) in place.
  virtual base::Status commit() { return file()->commit(replaces()); }
  // Removes what commit() put in place: another file of the run could not land.
  virtual void take_back() { std::remove(file()->target().c_str()); }
  // The file is in OUTPUT's place.
  virtual void landed() {}
  // Leaves nothing of what it wrote.
  virtual void discard() {
    if (TempOutput* f = file()) f->discard();
  }
  // Strips taken so far.
  int64_t strips() const { return strips_; }
  // The strips' records as its file states them, once finished; null for a sink that
  // writes none.
  virtual const std::vector<StripRecord>* records() const { return nullptr; }
  // The whole image, when the sink holds one in memory: once its file is written, a kept
  // copy takes it over instead of holding a second.
  virtual StripImage* held() { return nullptr; }

 protected:
  int64_t strips_ = 0;
};

// The sinks of one image. Each strip goes to all of them; their files land together in one
// place, files about the images first, and one that cannot land takes back those before it:
// all land or none.
class SinkSet {
 public:
  Sink& add(std::unique_ptr<Sink> sink);
  bool empty() const { return sinks_.empty(); }
  // The first added: the image's own sink, whose file the summary names.
  Sink& front() const { return *sinks_.front(); }
  // Makes every sink added so far ready for an image of `size` (Sink::begin).
  base::Status begin(const ImageSize& size, StripImage& strip);
  base::Status take(const Laid& laid);
  base::Status finish();
  // Every file flushed and synced; once.
  base::Status seal();
  // Every file put in place, all or none.
  base::Status land();
  bool landed() const { return landed_; }
  // Removes what land() put in place where it replaced nothing: another image of the same
  // pass failed to land.
  void take_back();
  // Leaves nothing of what the sinks wrote.
  void discard();
  // Starts anew with no sink; what was written and not landed is discarded.
  void clear();

 private:
  std::vector<Sink*> landing_order() const;

  std::vector<std::unique_ptr<Sink>> sinks_;
  bool sealed_ = false, landed_ = false;
};

// A PNG held whole and written at the end.
std::unique_ptr<Sink> held_png(const SinkSetting& setting);
// A PNG whose rows go out as each strip of a horizontal cut completes them.
std::unique_ptr<Sink> streamed_png(const SinkSetting& setting);
// An ImageJ TIFF held whole and written at the end (ImageJ reads no tiles).
std::unique_ptr<Sink> held_imagej(const SinkSetting& setting);
// A tiled TIFF, written band by band.
std::unique_ptr<Sink> tiff_bands(const SinkSetting& setting);
// A tiled TIFF with its reduced levels as SubIFDs (--pyramid).
std::unique_ptr<Sink> tiff_pyramid(const SinkSetting& setting);
// A JPEG (WebP) held whole and encoded at the end, within the format's sides.
std::unique_ptr<Sink> held_jpeg(const SinkSetting& setting);
std::unique_ptr<Sink> held_webp(const SinkSetting& setting);
// Deep Zoom: NAME.dzi and its tiles in NAME_files, both renamed at the end.
std::unique_ptr<Sink> deep_zoom(const SinkSetting& setting);

// The sink of an image of known size in `format`: an ImageJ TIFF when `imagej`, a
// pyramidal one when `pyramid`; a PNG of rows is streamed, one of columns held.
std::unique_ptr<Sink> image_sink(const SinkSetting& setting, Format format, bool imagej,
                                 bool pyramid);

// --viewer: NAME.html beside NAME.dzi, its scripts in NAME_viewer; both land after the
// tiles. `timeline`: the sink whose records the page shows (finished before this one), or
// null: the page shows only the strip numbers.
std::unique_ptr<Sink> viewer_sink(const SinkSetting& setting, const Sink* timeline,
                                  TimeOrigin origin);

// An image whose size is known only at the end (an input of unknown length), or written
// again and again while it grows (--flush): its strips are held, and it is made when
// written.
class GrowingSink : public Sink {
 public:
  GrowingSink(const SinkSetting& setting, Format format, FlushSpec flush, bool length_known);
  base::Result<void, Error> begin(const ImageSize& size, StripImage& strip) override;
  base::Result<void, Error> take(const Laid& laid) override;
  base::Result<void, Error> finish() override;
  TempOutput* file() override { return &output_; }
  bool replaces() const override { return setting_.force || (flush_.given && !length_known_); }
  base::Result<void, Error> seal() override;
  void landed() override;
  void discard() override;
  // The image the strips make.
  ImageSize size() const;
  // The strips of the image last put in OUTPUT's place by --flush.
  int64_t flushed() const { return flushed_; }

 private:
  base::Result<void, Error> flush_if_due(int64_t strips);

  SinkSetting setting_;
  Format format_;
  FlushSpec flush_;
  bool length_known_;
  TempOutput output_;
  std::unique_ptr<GrowingImage> grown_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  double last_flush_ = 0;  // seconds from the start of the last --flush write
  std::string partial_;    // --flush's file for an input of known length, once written
  int64_t flushed_ = 0;
};

// The record of every strip as laid: the plan's, or (`planned` empty: an input of unknown
// length) each strip's as it arrives, its clock the moment it came; with the notes the
// strips show.
class StripRecords {
 public:
  // `image_clock`: a watched folder's strips take their image's clock, not their arrival.
  StripRecords(int64_t strip_lines, std::vector<StripRecord> planned,
               std::optional<ClockSource> image_clock)
      : strip_lines_(strip_lines),
        records_(std::move(planned)),
        arriving_(records_.empty()),
        image_clock_(image_clock) {}
  void take(const Laid& laid);
  // --stats: strip k's figures, once it is laid.
  void take_stats(int64_t k, std::vector<ChannelStats> stats);
  // The records of the first `strips` strips (a signal may have ended the run early).
  const std::vector<StripRecord>& finish(int64_t strips);
  // The records so far.
  const std::vector<StripRecord>& records() const { return records_; }

 private:
  int64_t strip_lines_;
  std::vector<StripRecord> records_;
  bool arriving_;
  std::optional<ClockSource> image_clock_;
};

// The image and the strips' records kept in memory for the library's caller (scan::make),
// beside any file. `grows`: the image's length is known only at the end.
class KeptImage : public Sink {
 public:
  // `writer`: the run's image sink, whose image is taken over when it holds one whole.
  KeptImage(const SinkSetting& setting, bool grows, std::vector<StripRecord> records,
            Sink* writer = nullptr);
  base::Result<void, Error> begin(const ImageSize& size, StripImage& strip) override;
  base::Result<void, Error> take(const Laid& laid) override;
  base::Result<void, Error> finish() override;
  // What was made, once finished.
  Made take_made();

 private:
  SinkSetting setting_;
  bool grows_;
  StripRecords records_;
  Sink* writer_;
  StripImage* shared_ = nullptr;  // the writer's image, when it holds the same one
  StripImage image_;
  std::unique_ptr<GrowingImage> grown_;
  std::vector<StripRecord> finished_;
};

// Hands each strip to the library's caller.
std::unique_ptr<Sink> strip_taker(std::function<base::Result<void, Error>(const Laid&)> take);

// --stats: the channels of each strip whose figures go with its record (0: none), taken
// from the streak part of the strip, the band of --ticks (`band` lines) left out.
struct StripStatsSetting {
  int channels = 0;
  int64_t band = 0;
};

// The time of every strip, written as --timeline's CSV or JSON when the image is done.
// `records`: the plan's, one per strip; empty for an input of unknown length, whose strips
// are recorded as they arrive. `head` is asked when the file is written, as the image's
// size is known only then.
std::unique_ptr<Sink> timeline_file(const SinkSetting& setting, std::string path,
                                    std::vector<StripRecord> records,
                                    std::function<TimelineHead()> head,
                                    StripStatsSetting stats = {});

}  // namespace scan
