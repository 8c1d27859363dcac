// SPDX-License-Identifier: GPL-3.0-or-later
// A sequence of image files (a night of an all-sky camera's JPEGs, a clip's frames written
// as PNGs) read as a clip whose frames are the images. Each image is decoded by FFmpeg's
// decoder for its format, and only when a strip needs it.
#pragma once
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <vector>

#include "decode/ffmpeg_handles.h"
#include "decode/media_input.h"
#include "scan/frame_source.h"

namespace scan {

// Frames a second a sequence is given, as FFmpeg's image demuxer gives it, for --from and
// --to in seconds and for the frames' times.
inline constexpr double sequence_fps = 25;

class JpegArea;

class ImageSequence : public FrameSource {
 public:
  // Decodes images from the first on until one decodes: its size, depth and orientation
  // are the sequence's. Fails when none does.
  // `threads` images are decoded side by side, ahead of the strip that needs them.
  [[nodiscard]] static decode::Opening<std::unique_ptr<ImageSequence>> open(
      std::vector<std::string> files, int threads = 1);
  ~ImageSequence() override;

  int width() const override { return width_; }
  int height() const override { return height_; }
  bool deep() const override { return deep_; }
  const decode::DisplayMatrix& display() const override { return display_; }
  const ScanFrames& frames() const override { return frames_; }
  bool choose(FrameChoice choice) override;
  const AVFrame* next(int64_t& frame) override;
  const FrameStamp& stamp() const override { return stamp_; }
  bool broke_off() const override { return !failure_.empty(); }
  int read_error() const override { return 0; }
  int64_t damaged() const override { return damaged_; }
  std::string first_damaged() const override { return first_damaged_; }
  std::string failure() const override { return failure_; }
  // JPEG images are then decoded only around `area`, with libjpeg-turbo, as MJPEG clips are.
  void read_only(Rect area) override;

 private:
  // One image's decoder, kept for the next image of the same format.
  struct Decoder {
    AVCodecID id = AV_CODEC_ID_NONE;
    decode::CodecPtr codec;
    decode::PacketPtr packet = decode::new_packet();
    std::shared_ptr<JpegArea> jpeg;  // JPEG images around the area read, when one is set
  };
  // An image decoded ahead: its picture, empty when it did not decode.
  using Ahead = std::future<decode::FramePtr>;

  explicit ImageSequence(std::vector<std::string> files);
  // `area`: what is read of each image, or null for all of it.
  bool decode_file(const std::string& path, Decoder& decoder, AVFrame* out,
                   const Rect* area) const;
  // Decodes image `index` on a thread of its own with an idle decoder.
  Ahead decode_ahead(int64_t index);
  // Starts the chosen images up to `threads_` ahead of next_wanted_.
  void look_ahead();
  int64_t after(int64_t frame) const;

  std::vector<std::string> files_;
  ScanFrames frames_;
  int width_ = 0, height_ = 0;
  bool deep_ = false;
  decode::DisplayMatrix display_;
  std::optional<Rect> area_;  // set before the decoding threads start, not after
  FrameChoice choice_;
  int64_t next_wanted_ = 0;
  int threads_ = 1;
  std::mutex idle_mutex_;
  std::vector<std::shared_ptr<Decoder>> idle_;  // decoders no thread uses now
  std::deque<Ahead> ahead_;  // the chosen images from next_wanted_ on, in order
  int64_t ahead_end_ = 0;    // the frame after the last one started
  decode::FramePtr scratch_ = decode::new_frame();
  decode::FramePtr shown_ = decode::new_frame();  // the last good picture handed out
  decode::FramePtr first_ = decode::new_frame();  // the first that decoded, for a damaged start
  int64_t damaged_ = 0;
  std::string first_damaged_;
  std::string failure_;
  FrameStamp stamp_;
};

}  // namespace scan
