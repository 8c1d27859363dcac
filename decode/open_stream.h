// SPDX-License-Identifier: GPL-3.0-or-later
// The one way a clip is opened for decoding, by the window programs' service and by
// velmora-scan alike: the file, its video stream's decoder, where its frames lie and how
// its pictures are turned for showing.
#pragma once
#include <optional>
#include <string>

#include "decode/display_orientation.h"
#include "decode/media_input.h"
#include "decode/slot_table.h"

namespace decode {

struct OpenedStream {
  std::string path;
  InputPtr format;
  int stream = -1;
  CodecPtr codec;
  bool avi = false;  // slots are chunks, packets carry decoding stamps only
  SlotClock clock;
  SlotTable table;
  DisplayMatrix display;
  int width = 0, height = 0;  // as the stream's parameters say; pictures may differ
  std::optional<std::string> creation_time;  // the container's, as it states it
};

// Opens `path` with a decoder of `threads` threads. The slot table comes from the
// container's index, or from reading the file through once where there is none; that read
// ends, and the opening fails, when `stop` says so. A length the file could not hold is
// refused (damaged_timing).
[[nodiscard]] Opening<OpenedStream> open_stream(const std::string& path, int threads,
                                                const ShouldStop& stop = {});

}  // namespace decode
