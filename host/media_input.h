// Opening a media file with libavformat and finding its video stream.
#pragma once
#include <string>

#include "host/ffmpeg_handles.h"
#include "host/media_errors.h"

namespace host {

// What kept a file from opening, for callers that word their own messages.
enum class InputProblem {
  none,
  missing,      // no such file
  folder,       // a folder, not a file
  not_regular,  // a device, a pipe, ...
  empty,
  unreadable,   // no permission, an I/O error
  not_media,    // libavformat does not know it
  no_video,     // no video stream
  bad_size,     // a picture size no decoder should be asked for
  out_of_memory,
};

struct MediaInput {
  InputPtr format;
  int stream = -1;  // the video stream, -1 on failure
  MediaStatus status = MediaStatus::ok;
  std::string detail;  // why it failed, in FFmpeg's words where it has them
  InputProblem problem = InputProblem::none;
};

// The largest picture the decoder accepts; a header claiming more is not believed.
inline constexpr int max_side = 16384;
inline constexpr int64_t max_pixels = int64_t{8192} * 8192;

// Opens the file `path` (a name that looks like a URL is a file's all the same), reads
// enough to know its streams and picks the video stream. Other streams are discarded so
// that the demuxer skips them. Nothing stays open on failure.
MediaInput open_media(const std::string& path);

// The file's size in bytes, or -1 when the demuxer cannot tell.
int64_t file_size(AVFormatContext* format);

}  // namespace host
