// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a media file with libavformat and finding its video stream.
#pragma once
#include <string>

#include "decode/ffmpeg_handles.h"
#include "base/result.h"

namespace decode {

// Why a clip could not be opened, the same for every program; each words it (or turns it
// into its status) in one function of its own.
enum class OpenProblem {
  missing,         // no such file
  folder,          // a folder, not a file
  not_regular,     // a device, a pipe, ...
  empty,
  unreadable,      // no permission, an I/O error
  not_media,       // libavformat does not know it, or its decoder cannot be set up
  no_video,        // no video stream
  no_decoder,      // this FFmpeg has no decoder for the stream's codec
  bad_size,        // a picture size no decoder should be asked for
  damaged_timing,  // more frames claimed than the file could hold
  no_picture,      // none of its pictures decodes
  out_of_memory,
  stopped,         // the caller asked it to stop while the file was read
};

struct OpenFailure {
  OpenProblem problem = OpenProblem::not_media;
  std::string detail;  // why, in FFmpeg's words where it has them
};

template <class T>
using Opening = base::Result<T, OpenFailure>;

[[nodiscard]] base::Failure<OpenFailure> open_failure(OpenProblem problem, std::string detail);

struct MediaInput {
  InputPtr format;
  int stream = -1;  // the video stream
};

// The largest picture the decoder accepts; a header claiming more is not believed.
inline constexpr int max_side = 16384;
inline constexpr int64_t max_pixels = int64_t{8192} * 8192;

// Opens the file `path` (a name that looks like a URL is a file's all the same), reads
// enough to know its streams and picks the video stream. Other streams are discarded so
// that the demuxer skips them. Nothing stays open on failure.
[[nodiscard]] Opening<MediaInput> open_media(const std::string& path);

// As open_media, for reading `path`'s packets through once more after open_media picked
// `stream`: where the packets' stamps need no probing of the streams, that (the slow part)
// is left out.
[[nodiscard]] Opening<MediaInput> open_for_packets(const std::string& path, int stream);

// The file's size in bytes, or -1 when the demuxer cannot tell.
int64_t file_size(AVFormatContext* format);

}  // namespace decode
