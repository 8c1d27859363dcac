// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: arbitrary bytes as a clip file, through everything service::Clip offers:
// open, length, seek, step forward and back, and pictures at the pool's size and others.
//
// With VELMORA_CLIP_SEEDS set to a folder, start-up writes seeds into it: good clips in
// every codec the clip writer knows and the whole broken-clip corpus.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tools/clipwriter/broken_clips.h"
#include "tools/clipwriter/clip_writer.h"
#include "service/clip.h"
#include "service/media_errors.h"
#include "tests/support/scratch.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

using service::MediaStatus;

// A broken promise is a finding: libFuzzer keeps the input that led here.
void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "broken promise: %s\n", what);
  std::abort();
}

// A picture with a frame of untouched pixels around it and spare pixels at each row's end:
// render must write inside the picture only, and FFmpeg's writes are not seen by ASan.
class GuardedPicture {
 public:
  GuardedPicture(int width, int height) : width_(width), height_(height) {
    pixels_.assign(static_cast<size_t>(stride()) * (height + 2 * kGuard), kUntouched);
  }
  service::PixelBuffer buffer() {
    return {pixels_.data() + static_cast<size_t>(kGuard) * stride() + kGuard, width_, height_,
            stride()};
  }
  bool outside_untouched() const {
    for (int y = 0; y < height_ + 2 * kGuard; ++y)
      for (int x = 0; x < stride(); ++x) {
        bool inside = y >= kGuard && y < kGuard + height_ && x >= kGuard && x < kGuard + width_;
        if (!inside && pixels_[static_cast<size_t>(y) * stride() + x] != kUntouched) return false;
      }
    return true;
  }

 private:
  static constexpr int kGuard = 8;
  static constexpr uint32_t kUntouched = 0x5a5a5a5a;
  int stride() const { return width_ + 2 * kGuard; }
  int width_, height_;
  std::vector<uint32_t> pixels_;
};

bool known(MediaStatus status) {
  return status == MediaStatus::ok || !service::describe(status).empty();
}

// One picture into a guarded buffer at `dest`, which may reach outside it.
MediaStatus render(service::Clip& clip, int width, int height, service::Rect dest) {
  GuardedPicture picture(width, height);
  const MediaStatus status = clip.render(picture.buffer(), dest);
  require(known(status), "render failed without a description");
  require(picture.outside_untouched(), "render wrote outside its picture");
  return status;
}

// Clips of larger pictures are opened but not moved through.
constexpr int64_t kLargestMovedThrough = int64_t{1} << 20;

// The output size, whose pictures come from the pool of kept pictures.
constexpr int kOutWidth = 13, kOutHeight = 9;  // odd: rows that end inside a SIMD block

// The frame shown, once from the pool and once scaled afresh at another size (partly
// outside its picture): the pool only saves work, so both must give the same answer.
void render_both(service::Clip& clip) {
  const MediaStatus pooled = render(clip, kOutWidth, kOutHeight, {0, 0, kOutWidth, kOutHeight});
  const MediaStatus direct = render(clip, 20, 12, {-3, 2, 7, 30});
  require(pooled == direct, "the pool and fresh scaling disagree about the frame shown");
}

void require_position(const service::Clip& clip, int64_t expected, const char* what) {
  require(clip.position() == expected, what);
}

// A move that fails leaves the clip where it stood; one that succeeds lands on `target`.
void move(service::Clip& clip, MediaStatus status, int64_t before, int64_t target) {
  require(known(status), "a move failed without a description");
  require_position(clip, status == MediaStatus::ok ? target : before,
                   status == MediaStatus::ok ? "a move landed elsewhere"
                                             : "a failed move changed the position");
}

void seek(service::Clip& clip, int64_t frame) {
  const int64_t before = clip.position();
  const MediaStatus status = clip.seek(frame);
  if (frame < 0 || frame >= clip.length()) {
    require(status == MediaStatus::number_out_of_range, "a frame outside the clip was accepted");
    require_position(clip, before, "a refused seek moved the clip");
    return;
  }
  move(clip, status, before, frame);
}

void step(service::Clip& clip, int direction) {
  const int64_t before = clip.position();
  const MediaStatus status = direction > 0 ? clip.step_forward() : clip.step_back();
  const int64_t target = std::clamp<int64_t>(before + direction, 0, clip.length() - 1);
  move(clip, status, before, target);
}

void check_opened(service::Clip& clip) {
  const int64_t length = clip.length();
  require(length > 0, "an opened clip without frames");
  require(clip.width() > 0 && clip.height() > 0, "an opened clip without a size");
  const double fps = clip.frames_per_second();
  require(std::isfinite(fps) && fps > 0, "an opened clip without a frame rate");
  require_position(clip, 0, "an opened clip not on frame 0");
  // A header may claim pictures of up to 8192x8192, which FFmpeg takes half a second each
  // to decode: moving through such a clip is slow for FFmpeg's sake, not ours, and the
  // moves are the same on smaller pictures.
  if (int64_t{clip.width()} * clip.height() > kLargestMovedThrough) return;

  clip.set_output_size(kOutWidth, kOutHeight);
  render_both(clip);
  for (int i = 0; i < 3; ++i) step(clip, +1);
  render_both(clip);
  seek(clip, length - 1);
  step(clip, +1);
  for (int i = 0; i < 3; ++i) step(clip, -1);
  render_both(clip);
  seek(clip, length / 2);
  step(clip, -1);
  render_both(clip);
  render(clip, 2, 1, {0, 0, 2, 1});
  seek(clip, length);
  seek(clip, -1);
  seek(clip, 0);
  step(clip, -1);
  auto shown = clip.picture({0, 0, 5, 3});
  require(!shown || shown->pixels.size() == 15, "a picture of the wrong size");
}

// The input becomes this file: the opener reads a path, as the service hands it one.
std::string input_path;

void write_seeds(const std::string& folder) {
  std::filesystem::create_directories(folder);
  clipwriter::ClipSpec spec;
  spec.width = 32;
  spec.height = 24;
  spec.frames = 12;
  spec.fps_num = 25;
  spec.gop = 5;
  for (auto codec : {clipwriter::Codec::rgb, clipwriter::Codec::mjpeg, clipwriter::Codec::mpeg4}) {
    clipwriter::ClipSpec good = spec;
    good.codec = codec;
    good.b_frames = codec == clipwriter::Codec::mpeg4 ? 2 : 0;
    const std::string name = folder + "/good-" + std::to_string(static_cast<int>(codec)) + ".avi";
    if (!clipwriter::write_avi(name, good, clipwriter::test_pattern)) std::abort();
  }
  spec.codec = clipwriter::Codec::mpeg4;
  spec.b_frames = 2;
  if (auto broken = clipwriter::write_broken_clips(folder, spec); !broken) {
    std::fprintf(stderr, "cannot write the broken clips: %s\n", broken.error().message.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  av_log_set_level(AV_LOG_QUIET);
  static const velmora_test::ScratchFolder folder("velmora-clip-fuzz");
  input_path = (folder.path() / "clip.avi").string();
  if (const char* seeds = std::getenv("VELMORA_CLIP_SEEDS"); seeds != nullptr && *seeds != '\0')
    write_seeds(seeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(input_path.c_str(), "wb");
  if (file == nullptr) std::abort();
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) std::abort();

  service::Clip::Opened opened = service::Clip::open(input_path);
  if (opened.status != MediaStatus::ok) {
    require(!opened.clip, "a refused clip was handed out");
    require(!service::describe(opened.status).empty(), "a refusal without a description");
    return 0;
  }
  require(opened.clip != nullptr, "an accepted clip is missing");
  check_opened(*opened.clip);
  return 0;
}
