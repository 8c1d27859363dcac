// SPDX-License-Identifier: GPL-3.0-or-later
// Plain libavcodec decoding of a whole clip in order, to check the clip's positioning.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/scratch.h"

struct AVCodecContext;
struct AVFrame;

namespace velmora_test {

// Decodes every picture of `path`'s video stream in order with plain libavcodec (one
// thread) and hands each to `take`; throws when the clip does not open.
void for_each_picture(const std::string& path,
                      const std::function<void(const AVFrame&, const AVCodecContext&)>& take);

struct Reference {
  std::vector<std::vector<uint32_t>> pictures;  // in showing order, 0xffRRGGBB
  std::vector<int64_t> slots;                   // slot of each picture (AVI chunk number)
  int width = 0, height = 0;
};

// Decodes every picture of `path` from the top, scaled to width x height by the clip's
// scaler, or, when `direct_bgr24` is set, by unpacking BGR24 bytes
// by hand with no scaler at all.
Reference decode_all(const std::string& path, int width, int height, bool direct_bgr24 = false);

// The reference picture shown at `slot`: the last one at or before it.
const std::vector<uint32_t>& shown_at(const Reference& ref, int64_t slot);

// `frame` converted whole by libswscale with `flags` to the packed pixel format `target`
// (an AVPixelFormat), reading YUV with the colour matrix `matrix` (an SWS_CS_ value) and
// full-range levels when `full_range`, whatever the frame says; scaled to width x height
// when they are given; rows packed. Throws when libswscale cannot convert it.
std::vector<uint8_t> converted_with(const AVFrame& frame, int matrix, bool full_range,
                                    int target, int flags, int width = 0, int height = 0);


}  // namespace velmora_test
