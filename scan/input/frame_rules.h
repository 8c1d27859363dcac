// SPDX-License-Identifier: GPL-3.0-or-later
// How velmora-scan counts a clip's frames, and which pictures its strips need.
//
// AVI: frames are slots, as in the window programs: every chunk is one, and a chunk
// without a picture repeats the picture before it.
// Elsewhere a clip is constant-rate when its pictures, in presentation order, fall on the
// slots 0, 1, 2, ... of the stream's average frame rate, one picture to a slot (stamps
// rounded to the nearest slot); frames are then those slots. Otherwise it is variable-rate
// and its frames are its pictures, in presentation order. MP4 and MOV list every picture
// in their index, whose stamps tell the spacing; other containers are read through once
// (demuxing only) for their pictures' stamps.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "decode/slot_table.h"

namespace scan {

struct ScanFrames {
  bool avi_slots = false;      // frames are AVI chunks
  bool variable_rate = false;  // frames are pictures in presentation order
  int64_t count = 0;           // frames in the clip
  double fps = 0;              // frames a second (constant rate)
  decode::SlotClock clock;
  // Frame of each picture, ascending, where known (AVI with an index); empty otherwise.
  std::vector<int64_t> picture_frames;
  // Variable rate: every picture's presentation stamp, ascending.
  std::vector<int64_t> stamps;

  // The first frame that starts at or after `seconds` from the clip's start; count when none.
  int64_t frame_at_seconds(double seconds) const;
  // The frame a packet's picture shows at, or -1 when its stamps do not tell.
  int64_t frame_of_packet(const AVPacket& packet) const;
  // The frame of the picture after the one at `frame`.
  int64_t next_picture_frame(int64_t frame) const;
  // Seconds from the clip's start at which `frame` is shown: a variable-rate frame at its
  // picture's stamp (the last picture's past the end), others `fps` apart (0 without a rate).
  double seconds_of(int64_t frame) const;
};

// Counts the frames of `stream`. `table` is the clip's slot table (AVI's slots). A
// read-through ends early when `stop` says so, and the count is short.
ScanFrames count_scan_frames(AVFormatContext* format, int stream, const decode::SlotTable& table,
                             bool avi, const std::string& path,
                             const decode::ShouldStop& stop = {});

}  // namespace scan
