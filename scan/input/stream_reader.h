// SPDX-License-Identifier: GPL-3.0-or-later
// An input whose length is not known before the run: standard input ("-"), a URL, a pipe
// or a live device (--format v4l2). Its pictures are read once, in presentation order, one
// frame each, until the stream ends or the run is told to stop.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "decode/ffmpeg_handles.h"
#include "decode/intra_pool.h"
#include "decode/media_input.h"
#include "scan/input/frame_source.h"

namespace scan {

class JpegArea;

using InputOptions = decode::StreamOptions;

struct StreamRequest {
  std::string input;       // "-" for standard input, a URL, a device or a FIFO
  std::string format;      // --format: the demuxer or device; empty: FFmpeg guesses
  InputOptions options;    // --input-option
  int threads = 1;
};

// Whether INPUT is read as a stream: "-", a URL ("scheme://"), a device or FIFO, or any
// input when --format names the demuxer.
bool is_stream_input(const std::string& input, const std::string& format);

// The options FFmpeg opens a stream with: --input-option's, and for a URL a read time-out
// (rw_timeout, in microseconds) unless one is given, so that a server that takes the
// connection and never answers ends the run instead of holding it for ever.
InputOptions stream_open_options(const StreamRequest& request);

// Fails, saying so, unless FFmpeg (with its devices) has a demuxer or device of that name.
base::Status check_input_format(const std::string& name);

class StreamReader : public FrameSource {
 public:
  // Opens the stream and decodes its first picture. `stop` is asked while FFmpeg waits
  // for data; once it says so, reading ends (the picture read so far stays handed out).
  [[nodiscard]] static base::Result<std::unique_ptr<StreamReader>, base::Error> open(
      const StreamRequest& request, std::function<bool()> stop);
  ~StreamReader() override;

  int width() const override { return shape_.width; }
  int height() const override { return shape_.height; }
  bool deep() const override { return shape_.deep; }
  const decode::DisplayMatrix& display() const override { return display_; }
  bool length_known() const override { return false; }
  const ScanFrames& frames() const override { return frames_; }
  bool choose(FrameChoice choice) override;
  const AVFrame* next(int64_t& frame) override;
  const FrameStamp& stamp() const override { return stamp_; }
  // Its last packet came in part only: the stream broke off inside a picture.
  bool broke_off() const override { return cut_off_; }
  int read_error() const override { return read_error_; }
  int64_t damaged() const override { return damaged_; }
  // MJPEG pictures are then decoded only around `area`, with libjpeg-turbo, as a clip's are.
  void read_only(Rect area) override;

 private:
  StreamReader() = default;
  // The next picture of the stream into picture_; false at its end.
  bool decode_next();
  bool decode_pooled();
  bool leave_pool();
  int64_t slot_of(const AVFrame& picture) const;
  bool take_jpeg(const AVPacket& packet, AVFrame& picture);

  std::function<bool()> stop_;
  decode::StreamInput input_;
  decode::CodecPtr codec_;
  decode::PacketPtr packet_ = decode::new_packet();
  decode::FramePtr picture_ = decode::new_frame();
  bool held_ = false;     // picture_ holds a picture not yet looked at
  bool draining_ = false;
  bool ended_ = false;
  int64_t ahead_slot_ = -1;  // frame of the picture in picture_ (-1: not yet worked out)
  int64_t last_slot_ = -1;
  decode::FramePtr shown_ = decode::new_frame();  // the picture of the last frame handed out
  int64_t shown_slot_ = -1;
  int64_t first_pts_ = AV_NOPTS_VALUE;
  PictureShape shape_;
  decode::DisplayMatrix display_;
  ScanFrames frames_;
  FrameChoice choice_;
  int64_t next_wanted_ = 0;
  int64_t damaged_ = 0;
  int read_error_ = 0;
  FrameStamp stamp_;
  std::unique_ptr<JpegArea> jpeg_;
  int threads_ = 1;
  std::unique_ptr<decode::IntraPool> pool_;  // after choose(), for pictures that stand alone
  decode::PacketPtr last_ = decode::new_packet();  // the last packet decoded
  bool last_gave_ = false;  // the pool's last packet gave a picture
  bool leaving_ = false;    // packet_ does not stand alone: the pool empties first
  int discard_ = 0;         // pictures the decoder gives again, not handed out
  std::vector<int64_t> cut_short_;  // decoding stamps of packets read in part
  bool cut_off_ = false;
};

}  // namespace scan
