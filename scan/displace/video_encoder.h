// SPDX-License-Identifier: GPL-3.0-or-later
// The displaced clip's encoder and muxer: frames in, a clip written under a temporary
// name beside OUTPUT and renamed once its trailer is written (or Matroska to standard
// output for "-").
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/rational.h>
}

#include "base/result.h"

namespace displace {

// Whether OUTPUT's name asks for a clip: .mkv, .mp4, .mov, .webm or .nut in any case.
bool video_suffix(const std::string& output);

struct EncoderSetting {
  std::string output;  // "-": Matroska on standard output
  bool force = false;
  std::string codec = "libx264";
  int crf = 18;  // for encoders that take a crf
  bool crf_given = false;
  std::vector<std::pair<std::string, std::string>> options;  // --encoder-option
  int threads = 1;
  AVRational time_base{1, 25};
  AVRational frame_rate{25, 1};
};

class VideoEncoder {
 public:
  // Opens the encoder for frames shaped as `first` and the output file. A codec or an
  // option FFmpeg does not know is a failure, said in one line.
  [[nodiscard]] static base::Result<std::unique_ptr<VideoEncoder>, base::Error> open(
      const EncoderSetting& setting, const AVFrame& first);
  ~VideoEncoder();
  // The encoder's pixel format: the input's own where the encoder takes it.
  bool converts() const;
  // Encodes `frame` (its pts in the setting's time base).
  [[nodiscard]] base::Status write(const AVFrame& frame);
  // Drains the encoder, writes the trailer and puts the file in place.
  [[nodiscard]] base::Status finish();
  // Leaves no file.
  void discard();

 private:
  struct State;
  explicit VideoEncoder(std::unique_ptr<State> state);
  std::unique_ptr<State> s_;
};

}  // namespace displace
