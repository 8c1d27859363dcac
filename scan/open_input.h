// SPDX-License-Identifier: GPL-3.0-or-later
// INPUT, whatever it names, opened as a source of pictures.
#pragma once
#include <memory>

#include "decode/media_input.h"
#include "decode/open_stream.h"
#include "scan/frame_source.h"
#include "scan/options.h"

namespace scan {

// A source, or why INPUT cannot be read: a message without the program's name.
using InputOpening = base::Result<std::unique_ptr<FrameSource>, std::string>;

// Opens `o.input` with `threads` decoding threads; `stop` can cut a long opening short.
[[nodiscard]] InputOpening open_input(const Options& o, int threads,
                                      const decode::ShouldStop& stop);

}  // namespace scan
