// FFmpeg's error codes as readable text.
#pragma once
#include <string>

namespace host {

// "what: FFmpeg's own words for code", e.g. "cannot open x.avi: No such file or directory".
std::string av_error_text(const std::string& what, int code);

// Keeps FFmpeg's own log off stderr, for a program that words every failure itself.
void silence_ffmpeg_log();

}  // namespace host
