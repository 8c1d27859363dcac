// SPDX-License-Identifier: GPL-3.0-or-later
// One slit's image as a run makes it: checked against its outputs before the input opens,
// planned from the input's header, each picture cut into its strip and handed to the
// image's sinks, whose files then land together. With --split-at each period is an image of
// its own, one after the other.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/result.h"
#include "scan/plan.h"
#include "scan/reading.h"
#include "scan/scan.h"
#include "scan/sinks.h"
#include "scan/slit/cutter.h"
#include "scan/state_keeper.h"
#include "scan/time/periods.h"
#include "scan/time/strip_times.h"
#include "scan/time/tick_band.h"

namespace scan {

class SlitImage {
 public:
  // `take`: each strip goes there and no image is made.
  SlitImage(const Request& o, Reporter& reporter, const Stopping& stopping,
            const std::function<base::Result<void, Error>(const Strip&)>* take = nullptr);
  SlitImage(const SlitImage&) = delete;
  SlitImage& operator=(const SlitImage&) = delete;
  const Request& request() const { return o_; }

  // --skip-existing: OUTPUT is there, and nothing is to be made.
  bool skipped();
  // Before the input opens: a watch's state read, OUTPUT and the options on it checked.
  [[nodiscard]] base::Status check();
  // What an earlier run of a watch took; null when the run starts anew.
  const WatchState* resumed() const { return keeper_ ? keeper_->resumed() : nullptr; }
  // The plan worked out on `input`'s header, the sinks ready; `reads`: this image's run is
  // the one that reads the input and speaks of it.
  [[nodiscard]] base::Status prepare(Reading& input, bool reads);
  const Plan& plan() const { return plan_; }
  // The cutter made and the progress started, before the first picture.
  void start();
  // The strips a watch's state file holds, handed to the sinks again: no picture decoded.
  [[nodiscard]] base::Status restore();
  // How many that is.
  int64_t restored() const { return keeper_ ? keeper_->restored() : 0; }
  std::string state_file() const {
    return state_path(periods_ ? periods_->output_pattern() : o_.output);
  }
  // --split-at: the image of the period before finished and landed, and the next one's
  // begun, when the picture just read lies past the period's end.
  [[nodiscard]] base::Status follow_period(int64_t k);
  // Strip k (over the whole run) of `picture`; null for a --bin interval without a frame.
  [[nodiscard]] base::Status lay(int64_t k, const AVFrame* picture, bool repeated);
  Progress& progress() const { return *progress_; }

  // Writes the image under its temporary name; commit() puts it in place: seal() (the
  // timeline written, both files synced), land() (renamed), summarize().
  [[nodiscard]] base::Status finish();
  [[nodiscard]] base::Status commit();
  [[nodiscard]] base::Status seal();
  [[nodiscard]] base::Status land();
  void summarize();
  // Removes what land() put in place, when it replaced nothing: another image of the same
  // pass failed to land.
  void take_back() { sinks_.take_back(); }
  // Leaves nothing of an image that failed, and hands its error on.
  Error abandon(const Error& failure);
  void discard() { sinks_.discard(); }
  // The calibration of the image as an ImageJ TIFF states it, once prepared.
  const ImageJScale& imagej_scale() const { return scale_; }
  // The image and records kept for scan::make, once committed; nothing when not kept.
  std::optional<Made> made();

 private:
  base::Status check_outputs();
  base::Status load_state();
  base::Status start_state();
  Settings settings() const;
  base::Status open_period(int64_t start, int64_t k);
  // OUTPUT and the timeline are replaced: --force, or a watch going on from its state.
  bool force() const { return o_.force || resumed() != nullptr; }
  // What the input's pixels allow of OUTPUT and the options; whether it is an ImageJ TIFF.
  base::Status check_pixels();
  base::Status prepare_sinks();
  base::Status read_times();
  base::Status draw_ticks();
  strips::BytePlane streak_plane();
  TimelineHead timeline_head() const;
  int threads() const { return o_.threads > 0 ? o_.threads : default_threads(); }
  void say(const std::string& line) const {
    if (!o_.quiet) reporter_.say(line);
  }

  Request o_;  // OUTPUT and the timeline are each period's with --split-at
  Reporter& reporter_;
  Asked asked_;
  const std::function<base::Result<void, Error>(const Strip&)>* take_;
  Reading* input_ = nullptr;     // once prepared
  FrameSource* clip_ = nullptr;  // the input's
  bool reads_ = false;           // this image's run reads the input
  std::optional<Cutter> cutter_;  // made from the plan's slit when the strips start
  decode::Orientation orientation_;
  // Worked out before the first picture; its size is the whole image's, whatever is held
  // of it (a growing image's when it is done).
  Plan plan_;
  Format format_ = Format::png;
  bool imagej_ = false;  // OUTPUT is an ImageJ TIFF
  ImageJScale scale_;
  ImageJScale calibration() const;
  // Each strip is laid here alone, its share of the band beside it, and handed to the sinks.
  StripImage image_;
  SinkSet sinks_;
  GrowingSink* grown_ = nullptr;  // the sink of an image that grows, when it is one
  KeptImage* kept_ = nullptr;     // the sink that keeps the image in memory (Request::keep)
  // The sink that counts the strips of an image that grows, when it is one.
  Sink* growing_sink() const {
    return grown_ ? static_cast<Sink*>(grown_) : plan_.growing ? kept_ : nullptr;
  }
  Progress silent_;
  Progress* progress_ = &silent_;  // the reporter's, for the run that reads the input
  OddFrames odd_;  // the decoder's damaged frames are added at the end
  // The times of the input's frames, when --bin, --timeline or --ticks need them.
  std::optional<FrameTimes> times_;
  std::optional<TimeBand> band_;  // of --ticks, drawn whole before the first strip
  std::optional<StateKeeper> keeper_;  // a watch's
  std::optional<Periods> periods_;     // --split-at's
  FrameStamp period_stamp_;  // the picture's stamp counted from its period's start
  ImageSize strip_size_;     // the plan's: one strip of a growing image
};

}  // namespace scan
