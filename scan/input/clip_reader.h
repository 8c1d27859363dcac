// SPDX-License-Identifier: GPL-3.0-or-later
// A clip read once from front to back at full resolution, for velmora-scan: the pictures
// of chosen frames in the decoder's own pixel format, decoded by the same cursor as the
// window programs' clips, with as many threads as asked and without decoding pictures
// that no chosen frame needs.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "decode/decode_cursor.h"
#include "decode/display_orientation.h"
#include "scan/input/frame_rules.h"
#include "scan/slit/slit_scaler.h"
#include "scan/input/frame_source.h"

namespace scan {

class ClipReader : public FrameSource {
 public:
  // Opens `path` for decoding with `threads` threads (at least 1) and decodes its first
  // picture, so that a clip none of whose pictures decodes is refused here. `stop` is
  // asked while the file is read, also by next() later; once it says so, the clip gives up.
  [[nodiscard]] static decode::Opening<std::unique_ptr<ClipReader>> open(
      const std::string& path, int threads, const decode::ShouldStop& stop = {});

  ClipReader(decode::DecodeCursor cursor, ScanFrames frames, decode::SlotTable table,
             decode::DisplayMatrix display, int width, int height);
  ~ClipReader();

  int width() const override { return shape_.width; }
  int height() const override { return shape_.height; }
  // More than 8 bits per component.
  bool deep() const override { return shape_.deep; }
  const ScanFrames& frames() const override { return frames_; }
  std::optional<std::string> creation_time() const override { return creation_time_; }
  // How the stream's display matrix turns the pictures for showing; width() and height()
  // are the stored pictures'.
  const decode::DisplayMatrix& display() const override { return display_; }

  // Only `area` of each picture will be read: MJPEG pictures of the clip's size may then be
  // decoded just around it, with libjpeg-turbo (see JpegArea), the rest of each picture
  // left unwritten. Call before choose().
  void read_only(Rect area) override;
  // Pictures decoded by several decoders at once (intra-only codecs).
  bool parallel() const { return walk_.cursor().pooled(); }
  bool decodes_ahead() const override { return parallel(); }

  // Starts handing out the chosen frames; call once, before next().
  bool choose(FrameChoice choice) override;
  // The picture shown at the next chosen frame, full size in the decoder's pixel format,
  // valid until the next call; null when every chosen frame has been handed out, when
  // the clip broke off before it (see broke_off()), or when it was asked to stop. A frame
  // whose picture does not decode shows the last good picture before it.
  const AVFrame* next(int64_t& frame) override;
  const FrameStamp& stamp() const override { return stamp_; }
  // The stream ended before a chosen frame's picture: the file is shorter than it was
  // when opened, or could not be read on (read_error() says why, where FFmpeg does).
  bool broke_off() const override { return broke_off_; }
  int read_error() const override { return walk_.cursor().read_error(); }

  // Frames whose packets did not decode.
  int64_t damaged() const override { return walk_.cursor().damaged(); }
  int64_t decoded_pictures() const { return walk_.cursor().decoded_pictures(); }
  int64_t dropped_packets() const { return walk_.cursor().dropped_packets(); }

 private:
  static decode::Opening<std::unique_ptr<ClipReader>> open_reader(
      const std::string& path, int threads, const decode::ShouldStop& stop);
  bool start();
  void set_pool(std::unique_ptr<decode::IntraPool> pool, std::shared_ptr<struct JpegWish> jpeg);
  bool start_pool();
  bool seek_before(int64_t frame);
  decode::PacketUse use_of(const AVPacket& packet) const;
  bool wanted_between(int64_t first, int64_t end) const;
  void note_packet(const AVPacket& packet);
  bool broke_off_before(int64_t wanted) const;
  double seconds_of(int64_t frame) const;

  decode::Lookahead walk_;  // the picture shown and the one ahead of it
  ScanFrames frames_;
  decode::SlotTable table_;
  PictureShape shape_;
  bool intra_only_ = false;
  bool reordered_avi_ = false;
  decode::DisplayMatrix display_;
  FrameChoice choice_;
  int64_t next_wanted_ = 0;
  int64_t last_packet_frame_ = -1;  // the latest frame a packet read so far belongs to
  bool broke_off_ = false;
  // Set up at opening, put to work by choose(): the first picture comes from one decoder,
  // which tells whether the pictures are interlaced fields the pool cannot split.
  std::unique_ptr<decode::IntraPool> pool_;
  std::shared_ptr<struct JpegWish> jpeg_;  // what the pool's JPEG decoders are to decode
  FrameStamp stamp_;
  std::optional<std::string> creation_time_;
};

}  // namespace scan
