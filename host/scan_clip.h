// A clip read once from front to back at full resolution, for velmora-scan: the pictures
// of chosen frames in the decoder's own pixel format, decoded by the same cursor as the
// window programs' clips, with as many threads as asked and without decoding pictures
// that no chosen frame needs.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "host/decode_cursor.h"
#include "host/display_orientation.h"
#include "host/scan_frames.h"

namespace host {

// Frames from, from + every, ... before `to`.
struct FrameChoice {
  int64_t from = 0;
  int64_t to = 0;
  int64_t every = 1;
};

enum class ScanFailure {
  none,
  missing,
  folder,
  not_regular,
  empty,
  unreadable,
  not_media,
  no_video,
  no_decoder,
  bad_size,
  damaged_timing,
  no_picture,  // none of its pictures decodes
  out_of_memory,
  stopped,  // the caller asked it to stop
};

class ScanClip {
 public:
  struct Opened {
    std::unique_ptr<ScanClip> clip;  // null on failure
    ScanFailure failure = ScanFailure::none;
    std::string detail;  // FFmpeg's words, where it has them
  };

  // Opens `path` for decoding with `threads` threads (at least 1) and decodes its first
  // picture, so that a clip none of whose pictures decodes is refused here. `stop` is
  // asked while the file is read, also by next() later; once it says so, the clip gives up.
  static Opened open(const std::string& path, int threads, const ShouldStop& stop = {});

  ScanClip(DecodeCursor cursor, ScanFrames frames, SlotTable table, int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  // More than 8 bits per component.
  bool deep() const { return deep_; }
  const ScanFrames& frames() const { return frames_; }
  // How the stream's display matrix turns the pictures for showing; width() and height()
  // are the stored pictures'.
  const DisplayMatrix& display() const { return display_; }

  // Starts handing out the chosen frames; call once, before next().
  bool choose(FrameChoice choice);
  // The picture shown at the next chosen frame, full size in the decoder's pixel format,
  // valid until the next call; null when every chosen frame has been handed out, when
  // the clip broke off before it (see broke_off()), or when it was asked to stop. A frame
  // whose picture does not decode shows the last good picture before it.
  const AVFrame* next(int64_t& frame);
  // The stream ended before a chosen frame's picture: the file is shorter than it was
  // when opened, or could not be read on (read_error() says why, where FFmpeg does).
  bool broke_off() const { return broke_off_; }
  int read_error() const { return cursor_.read_error(); }

  // Frames whose packets did not decode.
  int64_t damaged() const { return cursor_.damaged(); }
  int64_t decoded_pictures() const { return cursor_.decoded_pictures(); }
  int64_t dropped_packets() const { return cursor_.dropped_packets(); }

 private:
  friend struct ScanOpener;
  bool start();
  bool seek_before(int64_t frame);
  PacketUse use_of(const AVPacket& packet) const;
  bool wanted_between(int64_t first, int64_t end) const;
  void take_pictures_up_to(int64_t frame);
  void note_packet(const AVPacket& packet);
  bool broke_off_before(int64_t wanted) const;

  DecodeCursor cursor_;
  ScanFrames frames_;
  SlotTable table_;
  int width_, height_;
  bool deep_ = false;
  bool intra_only_ = false;
  bool reordered_avi_ = false;
  DisplayMatrix display_;
  FrameChoice choice_;
  int64_t next_wanted_ = 0;
  Decoded shown_, ahead_;
  bool at_end_ = false;
  int64_t last_packet_frame_ = -1;  // the latest frame a packet read so far belongs to
  bool broke_off_ = false;
};

}  // namespace host
