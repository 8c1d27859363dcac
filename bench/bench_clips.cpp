// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench_clips.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tools/clipwriter/clip_writer.h"

namespace bench {
namespace {

// Texture that moves every frame, so P- and B-frames carry real work like camera footage.
uint32_t moving_texture(int frame, int x, int y) {
  uint32_t r = (x * 2 + frame * 4) & 0xff;
  uint32_t g = (y * 2 + frame * 3) & 0xff;
  uint32_t b = (((x + frame) ^ (y - frame)) + frame) & 0xff;
  return r << 16 | g << 8 | b;
}

BenchClip make(const char* label, int width, int height, int frames,
               clipwriter::Codec codec = clipwriter::Codec::mpeg4) {
  BenchClip clip{label, width, height, frames,
                 "/tmp/velmora-bench-" + std::string(label) + "-" + std::to_string(frames) + ".avi"};
  if (std::filesystem::exists(clip.path)) return clip;
  std::fprintf(stderr, "writing %s ...\n", clip.path.c_str());
  clipwriter::ClipSpec spec{width, height, frames, 25, 1, codec, 250, 2};
  std::string partial = clip.path + ".part";
  if (base::Status written = clipwriter::write_avi(partial, spec, moving_texture); !written) {
    std::fprintf(stderr, "cannot write %s: %s\n", partial.c_str(), written.error().message.c_str());
    std::exit(1);
  }
  std::filesystem::rename(partial, clip.path);
  return clip;
}

}  // namespace

const BenchClip& bench_clip(int index) {
  static const BenchClip clips[] = {make("640x480", 640, 480, 600),
                                    make("1280x720", 1280, 720, 500),
                                    make("1GB-raw-1280x720", 1280, 720, 390, clipwriter::Codec::rgb)};
  return clips[index];
}

}  // namespace bench
