// SPDX-License-Identifier: GPL-3.0-or-later
// Where a clip's frames lie: its length in frame slots and its keyframes.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/should_stop.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace decode {

// An AVI: its slots are chunks, every chunk one tick of the stream's time base, and its
// packets carry decoding stamps only.
bool is_avi(const AVFormatContext* format);

// Asked again and again by reads that can last long (a read-through of the file, the walk
// between two chosen frames).
using ShouldStop = base::ShouldStop;

// Converts stream timestamps into frame slots at the clip's frame rate. In an AVI every
// chunk is one tick of the stream's time base, so there a slot is simply the timestamp.
struct SlotClock {
  AVRational time_base{1, 1};
  AVRational rate{1, 1};  // slots per second
  int64_t start = 0;      // timestamp of slot 0

  static SlotClock of(const AVFormatContext* format, const AVStream* stream);
  int64_t to_slot(int64_t stamp) const;
};

struct SlotTable {
  int64_t length = 0;                // slots up to the last picture the file holds
  std::vector<int64_t> key_slots;    // slot of each keyframe, ascending
  std::vector<int64_t> key_stamps;   // its stream timestamp, to seek to
  int64_t max_key_distance = 1;      // widest gap between keyframes, in slots
  bool scanned = false;              // built by reading the whole file
  // When scanned: the presentation stamp of every picture the file shows, in file order,
  // so that nobody need read it through again for them.
  std::vector<int64_t> picture_stamps;

  // Index of the last keyframe at or before `slot`, or -1.
  int key_at_or_before(int64_t slot) const;
};

// Builds the table from the container's index, not believing entries that lie past the
// end of the file. When there is no usable index, or the header claims more frames than
// the index holds, the file at `path` is read through once (demuxing only); when `stop`
// says so, the read-through ends early and the table is short.
// `dts_slots` says that a packet's slot is its decoding timestamp (AVI).
SlotTable build_slot_table(AVFormatContext* format, int stream, const SlotClock& clock,
                           bool dts_slots, const std::string& path, const ShouldStop& stop = {});

// The fewest bytes of the file one slot can take: in an AVI a chunk header of eight bytes
// (an empty chunk is a slot too); elsewhere the codec's smallest packet, a whole picture
// for uncompressed video and one byte for any other codec.
int64_t smallest_slot_bytes(const AVStream* stream, bool avi);

// A length beyond what a file of `file_bytes` (-1: size unknown) could hold at
// `slot_bytes` a slot comes from damaged timing fields, not from pictures. Nothing when
// `table`'s length fits, else why not.
[[nodiscard]] std::optional<std::string> damaged_timing(const SlotTable& table, int64_t file_bytes,
                                                        int64_t slot_bytes);

}  // namespace decode
