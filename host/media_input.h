// Opening a media file with libavformat and finding its video stream.
#pragma once
#include <string>

#include "host/ffmpeg_handles.h"
#include "host/media_errors.h"

namespace host {

struct MediaInput {
  InputPtr format;
  int stream = -1;  // the video stream, -1 on failure
  MediaStatus status = MediaStatus::ok;
  std::string detail;  // why it failed, in FFmpeg's words where it has them
};

// The largest picture the decoder accepts; a header claiming more is not believed.
inline constexpr int max_side = 16384;
inline constexpr int64_t max_pixels = int64_t{8192} * 8192;

// Opens `path`, reads enough to know its streams and picks the video stream. Other streams
// are discarded so that the demuxer skips them. Nothing stays open on failure.
MediaInput open_media(const std::string& path);

// The file's size in bytes, or -1 when the demuxer cannot tell.
int64_t file_size(AVFormatContext* format);

}  // namespace host
