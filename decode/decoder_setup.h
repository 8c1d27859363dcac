// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a decoder for a clip's video stream.
#pragma once
#include "decode/ffmpeg_handles.h"
#include "decode/media_input.h"

namespace decode {

// A decoder for `stream` running `threads` threads. One thread hands each picture out one
// packet after its own, which is what tells its slot in an AVI; more decode whole frames
// side by side (and slices, where the codec cuts its frames into them).
[[nodiscard]] Opening<CodecPtr> open_decoder(const AVStream* stream, int threads);

}  // namespace decode
