// SPDX-License-Identifier: GPL-3.0-or-later
// INPUT, whatever it names, opened as a source of pictures.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "decode/media_input.h"
#include "decode/open_stream.h"
#include "scan/input/folder_watch.h"
#include "scan/input/frame_source.h"

namespace scan {

// A source, or why INPUT cannot be read: a message without the program's name.
using InputOpening = base::Result<std::unique_ptr<FrameSource>, base::Error>;

// What to open and how.
struct InputRequest {
  std::string input;   // a clip, an image folder or pattern, "-", a URL or a device
  std::string format;  // FFmpeg's demuxer or device; empty: FFmpeg guesses
  std::vector<std::pair<std::string, std::string>> options;  // the demuxer's or device's
  bool turn_images = true;  // images turned (and mirrored) as their EXIF orientation says
  // An image folder or glob: followed as it fills (--watch, FolderWatch), and only the
  // images whose clock lies in the window taken.
  bool watch = false;
  double idle = 0;
  ClockWindow window;
  ClockOf clock;
  std::function<int64_t()> now;
  std::optional<WatchResume> resume;  // a watch that goes on from its state file
  // A TIFF stack's slice (--z) and channel (--channel), 1-based; 0: not given.
  int z = 0;
  int channel = 0;
  double interval = 0;  // a stack's seconds between time points (--frame-interval); 0: its own
};

// Opens `o.input` with `threads` decoding threads; `stop` can cut a long opening short.
[[nodiscard]] InputOpening open_input(const InputRequest& o, int threads,
                                      const decode::ShouldStop& stop);

}  // namespace scan
