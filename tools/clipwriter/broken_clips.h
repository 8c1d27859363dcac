// SPDX-License-Identifier: GPL-3.0-or-later
// Files that look like clips but are not whole: damaged copies of a good clip and a few
// impostors. Tests feed them to the service and the window, which must refuse or play
// them without crashing, hanging or leaking.
#pragma once
#include <string>
#include <vector>

#include "base/result.h"
#include "tools/clipwriter/clip_writer.h"

namespace clipwriter {

struct BrokenClip {
  std::string name;  // says what is wrong with it; also the file's name without ".avi"
  std::string path;
};

// An AVI with one PCM audio stream and no video.
base::Status write_audio_only_avi(const std::string& path);

// The names of the files write_broken_clips() makes, in the order it makes them.
std::vector<std::string> broken_clip_names();

// Writes a good clip of `spec` (test pattern) as "whole.avi" into `folder`, and every kind
// of broken file made from it: cut short at several points, bytes overwritten at random
// (fixed seeds), an empty file, a file of zero bytes, text renamed to .avi, audio only, a
// header and an index that claim frames the file does not hold, a huge frame size in the
// header. Returns them all, or what failed (the files written before it stay in `folder`).
base::Result<std::vector<BrokenClip>, base::Error> write_broken_clips(const std::string& folder,
                                                                      const ClipSpec& spec);

}  // namespace clipwriter
