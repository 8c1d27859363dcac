// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a media file with libavformat and finding its video stream.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "decode/ffmpeg_handles.h"
#include "base/result.h"
#include "base/should_stop.h"

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
  bad_option,      // a stream's demuxer or device does not take an option given it
  timed_out,       // a stream gave no data within its read time-out
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

// Why a picture of `width` x `height` is not believed, or nothing when it is.
[[nodiscard]] std::optional<std::string> bad_picture_size(int width, int height);

// Opens the file `path` (a name that looks like a URL is a file's all the same), reads
// enough to know its streams and picks the video stream. Other streams are discarded so
// that the demuxer skips them. Nothing stays open on failure.
[[nodiscard]] Opening<MediaInput> open_media(const std::string& path);

// As open_media, for reading `path`'s packets through once more after open_media picked
// `stream`: where the packets' stamps need no probing of the streams, that (the slow part)
// is left out.
[[nodiscard]] Opening<MediaInput> open_for_packets(const std::string& path, int stream);

using StreamOptions = std::vector<std::pair<std::string, std::string>>;

// An input read once as it comes: standard input ("-"), a URL, a pipe or a device.
struct StreamSource {
  std::string url;
  const AVInputFormat* format = nullptr;  // the demuxer or device; null: FFmpeg guesses
  StreamOptions options;                  // the demuxer's, the device's or the protocol's
  base::ShouldStop stop;                  // asked while FFmpeg waits for data
};

// `options` with, for a URL, a read time-out (rw_timeout, in microseconds) unless one is
// given, so that a server that takes the connection and never answers is told.
[[nodiscard]] StreamOptions with_read_timeout(const std::string& url, StreamOptions options);

struct StreamInput {
  std::unique_ptr<base::ShouldStop> stop;  // which format's interrupt callback asks
  IoPtr pipe;                              // standard input's reader, which format reads
  InputPtr format;                         // last, so that it goes first
  int stream = -1;                         // the video stream
};

// Opens a stream as open_media opens a file, with its video stream picked by the same
// rules, but never reads it through: it has no end. Its streams are probed only where its
// header does not say which video codec it holds, and a picture size the header leaves
// out is left to the first picture (see bad_picture_size). A detail says what failed in
// words that may follow the stream's name; an option refused is told by its name=value.
[[nodiscard]] Opening<StreamInput> open_stream_input(const StreamSource& source);

// The file's size in bytes, or -1 when the demuxer cannot tell.
int64_t file_size(AVFormatContext* format);

}  // namespace decode
