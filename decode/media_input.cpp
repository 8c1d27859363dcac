// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/media_input.h"

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "decode/av_error.h"

namespace decode {
namespace {

// Tells the missing file, the empty or unreadable one, and the one FFmpeg does not know.
std::optional<OpenFailure> check_file(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  auto state = fs::status(path, ec);
  if (path.empty() || state.type() == fs::file_type::not_found)
    return OpenFailure{OpenProblem::missing, "no such file: " + path};
  if (ec) return OpenFailure{OpenProblem::unreadable, "cannot look at " + path + ": " + ec.message()};
  if (fs::is_directory(state)) return OpenFailure{OpenProblem::folder, path + " is a folder"};
  // Devices and pipes could block or never end; a clip is a file.
  if (!fs::is_regular_file(state))
    return OpenFailure{OpenProblem::not_regular, path + " is not a regular file"};
  if (fs::file_size(path, ec) == 0 && !ec) return OpenFailure{OpenProblem::empty, path + " is empty"};
  return std::nullopt;
}

OpenProblem problem_of_open_error(int code) {
  if (code == AVERROR(ENOENT)) return OpenProblem::missing;
  if (code == AVERROR(EACCES) || code == AVERROR(EPERM) || code == AVERROR(EIO) ||
      code == AVERROR(EISDIR))
    return OpenProblem::unreadable;
  if (code == AVERROR(ENOMEM)) return OpenProblem::out_of_memory;
  return OpenProblem::not_media;
}

std::optional<std::string> bad_picture_size(const AVCodecParameters* par) {
  if (par->width <= 0 || par->height <= 0) return "the video stream has no picture size";
  if (par->width > max_side || par->height > max_side ||
      int64_t{par->width} * par->height > max_pixels)
    return "the video stream claims an unbelievable picture size " +
           std::to_string(par->width) + "x" + std::to_string(par->height);
  return std::nullopt;
}

// The best video stream, or a negative AVERROR. Cover art (the picture an MP3 or M4A
// carries) comes as a video stream of one picture; it is no clip, and when libavformat
// names it best, the first other video stream is taken instead.
int pick_video_stream(AVFormatContext* format) {
  const auto cover = [format](int i) {
    return (format->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
  };
  int best = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (best < 0 || !cover(best)) return best;
  for (unsigned i = 0; i < format->nb_streams; ++i)
    if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !cover(i))
      return static_cast<int>(i);
  return AVERROR_STREAM_NOT_FOUND;
}

}  // namespace

base::Failure<OpenFailure> open_failure(OpenProblem problem, std::string detail) {
  return base::failure(OpenFailure{problem, std::move(detail)});
}

namespace {

// The file opened by libavformat, its header read, nothing probed yet.
Opening<InputPtr> open_file(const std::string& path) {
  if (std::optional<OpenFailure> bad = check_file(path)) return base::failure(std::move(*bad));
  AVFormatContext* raw = nullptr;
  // The name is a file's, whatever it looks like: libavformat would take the start of
  // "12:30 run.webm" or "pipe:3.webm" for a protocol.
  const std::string url = "file:" + path;
  if (int err = avformat_open_input(&raw, url.c_str(), nullptr, nullptr); err < 0)
    return open_failure(problem_of_open_error(err), av_error_text("cannot open " + path, err));
  return InputPtr(raw);
}

// `format` reading `stream` only: the demuxer skips the others.
MediaInput reading_only(InputPtr format, int stream) {
  for (unsigned i = 0; i < format->nb_streams; ++i)
    if (static_cast<int>(i) != stream) format->streams[i]->discard = AVDISCARD_ALL;
  MediaInput input;
  input.format = std::move(format);
  input.stream = stream;
  return input;
}

// Probes the streams of an opened file and picks its video stream.
Opening<MediaInput> probed(InputPtr format) {
  AVFormatContext* raw = format.get();
  if (int err = avformat_find_stream_info(raw, nullptr); err < 0)
    return open_failure(OpenProblem::not_media, av_error_text("cannot read the streams", err));
  int stream = pick_video_stream(raw);
  if (stream < 0) return open_failure(OpenProblem::no_video, "the file holds no video stream");
  if (std::optional<std::string> bad = bad_picture_size(raw->streams[stream]->codecpar))
    return open_failure(OpenProblem::bad_size, *bad);
  return reading_only(std::move(format), stream);
}

}  // namespace

Opening<MediaInput> open_media(const std::string& path) {
  Opening<InputPtr> format = open_file(path);
  if (!format) return base::failure(format.error());
  return probed(std::move(*format));
}

Opening<MediaInput> open_for_packets(const std::string& path, int stream) {
  Opening<InputPtr> format = open_file(path);
  if (!format) return base::failure(format.error());
  const AVFormatContext* raw = format->get();
  // MP4 and MOV list every stream in the header and give each packet both stamps from
  // their tables; probing (which decodes pictures) tells the packets nothing more there.
  const bool stamped = std::string_view(raw->iformat->name) == "mov,mp4,m4a,3gp,3g2,mj2";
  if (!stamped || (raw->ctx_flags & AVFMTCTX_NOHEADER) || stream < 0 ||
      stream >= static_cast<int>(raw->nb_streams))
    return probed(std::move(*format));
  return reading_only(std::move(*format), stream);
}

int64_t file_size(AVFormatContext* format) {
  return format->pb != nullptr ? avio_size(format->pb) : -1;
}

}  // namespace decode
