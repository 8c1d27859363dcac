// SPDX-License-Identifier: GPL-3.0-or-later
// FFmpeg's error codes as readable text.
#pragma once
#include <string>

namespace decode {

// "what: FFmpeg's own words for code", e.g. "cannot open x.avi: No such file or directory".
std::string av_error_text(const std::string& what, int code);

// How much of FFmpeg's own log reaches stderr. Each program words its failures itself and
// sets this once, in its main.
enum class FfmpegLog {
  fatal_only,  // only what ends the process
  none,
};
void set_ffmpeg_log(FfmpegLog level);

}  // namespace decode
