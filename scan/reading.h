// SPDX-License-Identifier: GPL-3.0-or-later
// The input of a run as it is read: opened once, each picture handed to every slit's image
// in turn, and what is to be said of it (pictures damaged, where it broke off, the source's
// own warnings) said once.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "base/result.h"
#include "base/should_stop.h"
#include "decode/display_orientation.h"
#include "scan/input/frame_source.h"
#include "scan/input/open_input.h"
#include "scan/progress.h"
#include "scan/scan.h"
#include "scan/watch_state.h"

extern "C" {
struct AVFrame;
}

namespace scan {

// The caller's word on stopping, asked as the run goes.
class Asked {
 public:
  explicit Asked(const Stopping& stopping) : stopping_(stopping) {}
  // Stop now and leave nothing: why (the caller's number), else 0.
  int abandon() const { return ask(stopping_.abandon); }
  // End an input of unknown length here and keep its image: why, else 0.
  int finish() const { return ask(stopping_.finish); }
  base::ShouldStop should_stop() const {
    return [&stopping = stopping_] { return ask(stopping.abandon) != 0; };
  }
  // The error of a run asked to stop.
  Error interrupted() const {
    const int why = abandon() != 0 ? abandon() : finish();
    return Error{ExitStatus::interrupted, "interrupted; no image written", why};
  }

 private:
  static int ask(const std::function<int()>& question) { return question ? question() : 0; }
  const Stopping& stopping_;
};

class Reading {
 public:
  Reading(const Request& o, Reporter& reporter, const Stopping& stopping)
      : o_(o), reporter_(reporter), asked_(stopping) {}
  // Opens the input; `resumed`: what an earlier run of a watch took, which is not taken
  // again.
  [[nodiscard]] base::Status open(const WatchState* resumed);
  FrameSource& source() const { return *source_; }
  // How its pictures are shown: upright with --no-rotate.
  const decode::Orientation& orientation() const { return orientation_; }
  // The next picture; with --bin the pictures before frame `first` are passed by (-1: none
  // is). What a watched folder has to say of its images is said as they come, `progress`
  // wiped first.
  const AVFrame* next(int64_t first, int64_t& frame, Progress& progress);
  // The picture just read became a strip although damaged or cut short.
  void count_damaged();
  // The failure of an input that ended before `frame`, a chosen one.
  [[nodiscard]] base::Status ended_early(int64_t frame) const;
  // Says what the strips hold besides their own pictures, and the source's warnings.
  void warn() const;

 private:
  base::Status check_stream_only() const;
  base::Status check_watch() const;
  InputRequest input_request(const WatchState* resumed) const;
  void say(const std::string& line) const {
    if (!o_.quiet) reporter_.say(line);
  }

  Request o_;
  Reporter& reporter_;
  Asked asked_;
  std::unique_ptr<FrameSource> source_;
  decode::Orientation orientation_;
  int64_t damaged_strips_ = 0, first_damaged_frame_ = -1;  // pictures cut short or damaged
};

}  // namespace scan
