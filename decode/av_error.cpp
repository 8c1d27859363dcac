// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/av_error.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace decode {

std::string av_error_text(const std::string& what, int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(code, text, sizeof text) < 0) return what + ": FFmpeg error " + std::to_string(code);
  return what + ": " + text;
}

void set_ffmpeg_log(FfmpegLog level) {
  av_log_set_level(level == FfmpegLog::none ? AV_LOG_QUIET : AV_LOG_FATAL);
}

}  // namespace decode
