// SPDX-License-Identifier: GPL-3.0-or-later
// The same work done with plain libavformat/libavcodec/libswscale calls: what the clip's
// figures are measured against.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace bench {

class Baseline {
 public:
  // Opens the file and its decoder, decodes and scales the first picture.
  explicit Baseline(const std::string& path, int out_width = 320, int out_height = 240);
  ~Baseline();
  Baseline(const Baseline&) = delete;
  Baseline& operator=(const Baseline&) = delete;

  // Decodes the next picture and scales it to the output size; false at the end.
  bool next();
  // Seeks to the keyframe at or before `frame`, decodes up to it and scales it.
  bool seek(int64_t frame);
  // Scales the last decoded picture into the output buffer.
  void scale();
  // Back to the top of the file.
  void rewind();

 private:
  bool decode_one();

  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  SwsContext* sws_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  int stream_ = -1;
  int out_w_, out_h_;
  int64_t slot_ = -1;
  std::vector<uint32_t> out_;
};

}  // namespace bench
