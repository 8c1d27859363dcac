// SPDX-License-Identifier: GPL-3.0-or-later
// The decoders ClipReader hands intra-only pictures to (see clip_reader_pool.cpp).
#pragma once
#include <memory>

#include "decode/intra_pool.h"

namespace scan {

struct JpegWish;

// `threads` decoders of `stream`; for MJPEG with `jpeg_allowed`, each first tries
// libjpeg-turbo around the area ClipReader::read_only() names, and `jpeg` is set.
[[nodiscard]] decode::Opening<std::unique_ptr<decode::IntraPool>> open_pool(
    const AVStream* stream, int threads, std::shared_ptr<JpegWish>& jpeg, bool jpeg_allowed);

}  // namespace scan
