// SPDX-License-Identifier: GPL-3.0-or-later
// A watch's state file, OUTPUT.velmora-state beside OUTPUT: the settings of the command that
// made it, the first image's shape, every strip's record and the strips' pixels. It is
// replaced (temporary name, synced, renamed) right after each OUTPUT it describes, so it
// never holds a strip OUTPUT lacks; holding the pixels, it lets a run of the same command
// go on after a crash without decoding any image again or reading OUTPUT back.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "scan/input/frame_source.h"
#include "scan/options.h"
#include "scan/output/strip_image.h"
#include "scan/time/timeline.h"

namespace scan {

using Settings = std::vector<std::pair<std::string, std::string>>;

struct WatchState {
  Settings settings;    // what shapes the image: see state_settings()
  PictureShape shape;   // the first image's, as stored
  int orientation = 1;  // its EXIF orientation
  ImageSize strip;      // one strip's image
  std::optional<int64_t> period;     // --split-at: the start of the period of OUTPUT
  std::vector<StripRecord> records;  // one a strip, as the timeline has them
  std::vector<std::string> paths;    // each strip's image, as the sequence named it
  std::vector<uint8_t> pixels;       // the strips' images one after the other, rows packed

  // Adds strip `record` of image `path`, whose one-strip image is `strip`.
  void add(const StripRecord& record, const std::string& path, const StripImage& strip);
  // Strip k's pixels into `strip`, a one-strip image of the state's size.
  void lay(size_t k, StripImage& strip) const;
};

// The state file of OUTPUT.
std::string state_path(const std::string& output);

// The settings of `o` that shape the image and its timeline: INPUT, OUTPUT and every option
// given but those that only say how the run goes (--threads, --flush, --idle, --force,
// --skip-existing, --quiet).
Settings state_settings(const Request& o);

// What differs between the settings a state holds and a command's, named option by
// option ("--slit 10 there, 20 here"); empty when they are the same.
std::string settings_differ(const Settings& there, const Settings& here);

// The state file at `path`; nothing when there is none; a message (without the path) when
// it cannot be read or is damaged.
[[nodiscard]] base::Result<std::optional<WatchState>, base::Error> read_state(
    const std::string& path);

// Replaces the file at `path` by `state`: all of it or nothing.
[[nodiscard]] base::Status write_state(const std::string& path, const WatchState& state);

}  // namespace scan
