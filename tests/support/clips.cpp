// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/clips.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <mutex>
#include <system_error>

namespace velmora_test {
namespace {

namespace fs = std::filesystem;

const char* codec_name(clipwriter::Codec codec) {
  switch (codec) {
    case clipwriter::Codec::rgb:
      return "rgb";
    case clipwriter::Codec::mjpeg:
      return "mjpeg";
    case clipwriter::Codec::mpeg4:
      return "mpeg4";
    case clipwriter::Codec::h264:
      return "h264";
    case clipwriter::Codec::ffv1:
      return "ffv1";
  }
  return "codec";
}

// A variable rate's stamps, hashed to keep the file name short.
std::string ticks_key(const clipwriter::ClipSpec& spec) {
  if (spec.ticks.empty()) return {};
  size_t hash = std::hash<int>{}(spec.ticks_per_second);
  for (int64_t tick : spec.ticks) hash = hash * 1000003u ^ std::hash<int64_t>{}(tick);
  return " vfr" + std::to_string(hash);
}

// The colour matrix and levels, when the clip says them.
std::string colour_key(const clipwriter::ClipSpec& spec) {
  std::string key;
  switch (spec.matrix) {
    case clipwriter::Matrix::untagged: break;
    case clipwriter::Matrix::bt601: key = " bt601"; break;
    case clipwriter::Matrix::bt709: key = " bt709"; break;
    case clipwriter::Matrix::bt2020: key = " bt2020"; break;
  }
  return spec.full_range ? key + " full" : key;
}

// Every setting of `spec` an AVI keeps, so that two specs never share a file.
std::string spec_key(const clipwriter::ClipSpec& spec) {
  return std::to_string(spec.width) + "x" + std::to_string(spec.height) + " " +
         std::to_string(spec.frames) + "f " + std::to_string(spec.fps_num) + "-" +
         std::to_string(spec.fps_den) + "fps " + codec_name(spec.codec) + " gop" +
         std::to_string(spec.gop) + " b" + std::to_string(spec.b_frames) +
         (spec.ten_bit ? " 10bit" : "") + ticks_key(spec) + colour_key(spec);
}

}  // namespace


std::string cached_clip(const std::string& label, const clipwriter::ClipSpec& spec,
                        const clipwriter::Painter& painter) {
  // The cache writes AVIs, which keep no display matrix or index placement.
  if (spec.container != "avi" || spec.rotation != 0 || spec.mirror || spec.index_first)
    ADD_FAILURE() << "cached clips are AVIs: write this one with clipwriter::write_clip";
  static std::mutex writing;
  std::lock_guard guard(writing);
  const fs::path folder = VELMORA_TEST_CLIPS;
  const fs::path path = folder / (label + " " + spec_key(spec) + ".avi");
  if (fs::exists(path)) return path.string();
  std::error_code ignored;
  fs::create_directories(folder, ignored);
  // Written aside and renamed into place, so that a process running beside this one never
  // reads half a clip; when two write the same clip, the later rename replaces a whole
  // file with an equal one.
  const fs::path part = path.string() + "." + std::to_string(::getpid()) + ".part";
  const base::Status written = clipwriter::write_avi(part.string(), spec, painter);
  if (!written) {
    ADD_FAILURE() << "cannot write " << path << ": " << written.error().message;
    fs::remove(part, ignored);
  } else {
    fs::rename(part, path, ignored);
    if (ignored) ADD_FAILURE() << "cannot rename " << part << ": " << ignored.message();
  }
  return path.string();
}

std::string cached_clip(const clipwriter::ClipSpec& spec) {
  return cached_clip("pattern", spec, clipwriter::test_pattern);
}

}  // namespace velmora_test
