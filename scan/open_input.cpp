// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/open_input.h"

#include "scan/clip_reader.h"

namespace scan {

decode::Opening<std::unique_ptr<FrameSource>> open_input(const Options& o, int threads,
                                                         const decode::ShouldStop& stop) {
  auto clip = ClipReader::open(o.input, threads, stop);
  if (!clip) return base::failure(clip.error());
  return std::unique_ptr<FrameSource>(std::move(*clip));
}

}  // namespace scan
