// SPDX-License-Identifier: GPL-3.0-or-later
// The clips the benchmarks run on, written into /tmp once and reused.
#pragma once
#include <string>

namespace bench {

struct BenchClip {
  const char* label;  // "640x480", "1280x720"
  int width, height, frames;
  std::string path;
};

// MPEG-4 clips with 250-frame groups and two B-frames between references; written on
// first use. Index 0 is 640x480, 1 is 1280x720. Index 2 is an uncompressed 1280x720 clip
// of about 1 GB, to show that opening does not read the whole file.
const BenchClip& bench_clip(int index);

}  // namespace bench
