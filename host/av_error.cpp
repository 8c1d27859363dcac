#include "host/av_error.h"

extern "C" {
#include <libavutil/error.h>
}

namespace host {

std::string av_error_text(const std::string& what, int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(code, text, sizeof text) < 0) return what + ": FFmpeg error " + std::to_string(code);
  return what + ": " + text;
}

}  // namespace host
