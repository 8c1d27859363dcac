// SPDX-License-Identifier: GPL-3.0-or-later
// A sequence of image files (a night of an all-sky camera's JPEGs, a clip's frames written
// as PNGs) read as a clip whose frames are the images. Each image is decoded by FFmpeg's
// decoder for its format, and only when a strip needs it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decode/ffmpeg_handles.h"
#include "decode/media_input.h"
#include "scan/frame_source.h"

namespace scan {

// Frames a second a sequence is given, as FFmpeg's image demuxer gives it, for --from and
// --to in seconds and for the frames' times.
inline constexpr double sequence_fps = 25;

class ImageSequence : public FrameSource {
 public:
  // Decodes images from the first on until one decodes: its size, depth and orientation
  // are the sequence's. Fails when none does.
  [[nodiscard]] static decode::Opening<std::unique_ptr<ImageSequence>> open(
      std::vector<std::string> files);

  int width() const override { return width_; }
  int height() const override { return height_; }
  bool deep() const override { return deep_; }
  const decode::DisplayMatrix& display() const override { return display_; }
  const ScanFrames& frames() const override { return frames_; }
  bool choose(FrameChoice choice) override;
  const AVFrame* next(int64_t& frame) override;
  const FrameStamp& stamp() const override { return stamp_; }
  bool pass() override;
  bool broke_off() const override { return !failure_.empty(); }
  int read_error() const override { return 0; }
  int64_t damaged() const override { return damaged_; }
  std::string first_damaged() const override { return first_damaged_; }
  std::string failure() const override { return failure_; }

 private:
  explicit ImageSequence(std::vector<std::string> files);
  // Decodes image `index` into scratch_; false when it does not decode.
  bool decode_image(size_t index);

  std::vector<std::string> files_;
  ScanFrames frames_;
  int width_ = 0, height_ = 0;
  bool deep_ = false;
  decode::DisplayMatrix display_;
  FrameChoice choice_;
  int64_t next_wanted_ = 0;
  AVCodecID codec_id_ = AV_CODEC_ID_NONE;
  decode::CodecPtr codec_;
  decode::PacketPtr packet_ = decode::new_packet();
  decode::FramePtr scratch_ = decode::new_frame();
  decode::FramePtr shown_ = decode::new_frame();  // the last good picture handed out
  decode::FramePtr first_ = decode::new_frame();  // the first that decoded, for a damaged start
  int64_t damaged_ = 0;
  std::string first_damaged_;
  std::string failure_;
  FrameStamp stamp_;
};

}  // namespace scan
