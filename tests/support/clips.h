// SPDX-License-Identifier: GPL-3.0-or-later
// Where the tests keep files: a scratch folder of their own, and the clips they read,
// written once and shared by every test process of a build.
#pragma once
#include <filesystem>
#include <string>

#include "tests/support/scratch.h"
#include "tools/clipwriter/clip_writer.h"

namespace velmora_test {

// The clip `spec` painted by `painter`, written on first use into the build's clip folder
// and read from there by every later test process; the build empties the folder whenever
// it relinks the clip writer or a test program. The file name is `label` (which must name
// the painter: a blank in it reaches the window tests' file names) and the settings of
// `spec`. A failure to write is a test failure.
std::string cached_clip(const std::string& label, const clipwriter::ClipSpec& spec,
                        const clipwriter::Painter& painter);
// The same with clipwriter::test_pattern.
std::string cached_clip(const clipwriter::ClipSpec& spec);

}  // namespace velmora_test
