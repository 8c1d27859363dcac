#include "host/av_error.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace host {

std::string av_error_text(const std::string& what, int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(code, text, sizeof text) < 0) return what + ": FFmpeg error " + std::to_string(code);
  return what + ": " + text;
}

void silence_ffmpeg_log() { av_log_set_level(AV_LOG_QUIET); }

}  // namespace host
