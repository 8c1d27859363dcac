// SPDX-License-Identifier: GPL-3.0-or-later
// A watch's state file (watch_state.h) while the watch runs: read before OUTPUT is checked,
// its strips handed to the sinks again before any new image is decoded, brought up to date
// with every strip, and replaced each time OUTPUT is, never holding a strip OUTPUT lacks.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/result.h"
#include "scan/sinks.h"
#include "scan/watch_state.h"

namespace scan {

class StateKeeper {
 public:
  // `path`: the state file; `settings`: the command's (state_settings()).
  StateKeeper(std::string path, Settings settings)
      : path_(std::move(path)), settings_(std::move(settings)) {}
  const std::string& path() const { return path_; }

  // Reads what an earlier run of the same command left, when the OUTPUT it describes is
  // there (`output_of` names it from the state's --split-at period); a state left by another
  // command is refused, never reused, and one without its OUTPUT is stale and is replaced.
  [[nodiscard]] base::Status load(
      const std::function<std::string(const std::optional<int64_t>& period)>& output_of);
  // The state read; null when the run starts anew.
  const WatchState* resumed() const { return resumed_ ? &*resumed_ : nullptr; }

  // Starts keeping the state of an image whose strips are `strip` images of `strip_lines`
  // lines, the first picture being `shape` with EXIF `orientation`; a resumed state must
  // be of such strips.
  [[nodiscard]] base::Status start(const ImageSize& strip, int64_t strip_lines,
                                   ClockSource clock, const PictureShape& shape,
                                   int orientation, std::optional<int64_t> period);
  // Hands the resumed strips to `sinks`, each laid in `image` with its record as then.
  [[nodiscard]] base::Status restore(StripImage& image, SinkSet& sinks);
  // The strips restored (0 when none).
  int64_t restored() const;
  // Adds a new strip; the file is replaced when OUTPUT holds more strips than it does,
  // `in_output` being OUTPUT's.
  [[nodiscard]] base::Status keep(const Laid& laid, int64_t in_output);
  // OUTPUT, in place, holds `strips`: the file says so too.
  [[nodiscard]] base::Status landed(int64_t strips);
  // Forgets the state (a new --split-at period starts its own).
  void reset();

 private:
  base::Status write(int64_t strips);

  std::string path_;
  Settings settings_;
  std::optional<WatchState> resumed_;  // what an earlier run of this watch took
  std::optional<WatchState> state_;    // what the file says, kept up to date
  std::optional<StripRecords> records_;
  int64_t stated_ = 0;  // strips the file holds
};

}  // namespace scan
