#include "host/media_input.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "host/av_error.h"

namespace host {
namespace {

MediaInput failure(MediaStatus status, std::string detail, InputProblem problem) {
  MediaInput input;
  input.status = status;
  input.detail = std::move(detail);
  input.problem = problem;
  return input;
}

// Tells the missing file, the empty or unreadable one, and the one FFmpeg does not know.
MediaInput check_file(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  auto state = fs::status(path, ec);
  if (path.empty() || state.type() == fs::file_type::not_found)
    return failure(MediaStatus::no_such_file, "no such file: " + path, InputProblem::missing);
  if (ec)
    return failure(MediaStatus::unreadable_file, "cannot look at " + path + ": " + ec.message(),
                   InputProblem::unreadable);
  if (fs::is_directory(state))
    return failure(MediaStatus::unreadable_file, path + " is a folder", InputProblem::folder);
  // Devices and pipes could block or never end; a clip is a file.
  if (!fs::is_regular_file(state))
    return failure(MediaStatus::unreadable_file, path + " is not a regular file",
                   InputProblem::not_regular);
  if (fs::file_size(path, ec) == 0 && !ec)
    return failure(MediaStatus::unreadable_file, path + " is empty", InputProblem::empty);
  return {};
}

MediaStatus status_of_open_error(int code) {
  if (code == AVERROR(ENOENT)) return MediaStatus::no_such_file;
  if (code == AVERROR(EACCES) || code == AVERROR(EPERM) || code == AVERROR(EIO) ||
      code == AVERROR(EISDIR))
    return MediaStatus::unreadable_file;
  if (code == AVERROR(ENOMEM)) return MediaStatus::out_of_memory;
  return MediaStatus::not_playable;
}

InputProblem problem_of_open_error(int code) {
  switch (status_of_open_error(code)) {
    case MediaStatus::no_such_file: return InputProblem::missing;
    case MediaStatus::unreadable_file: return InputProblem::unreadable;
    case MediaStatus::out_of_memory: return InputProblem::out_of_memory;
    default: return InputProblem::not_media;
  }
}

std::string check_picture_size(const AVCodecParameters* par) {
  if (par->width <= 0 || par->height <= 0) return "the video stream has no picture size";
  if (par->width > max_side || par->height > max_side ||
      int64_t{par->width} * par->height > max_pixels)
    return "the video stream claims an unbelievable picture size " +
           std::to_string(par->width) + "x" + std::to_string(par->height);
  return {};
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

MediaInput open_media(const std::string& path) {
  if (MediaInput bad = check_file(path); bad.status != MediaStatus::ok) return bad;
  AVFormatContext* raw = nullptr;
  // The name is a file's, whatever it looks like: libavformat would take the start of
  // "12:30 run.webm" or "pipe:3.webm" for a protocol.
  const std::string url = "file:" + path;
  if (int err = avformat_open_input(&raw, url.c_str(), nullptr, nullptr); err < 0)
    return failure(status_of_open_error(err), av_error_text("cannot open " + path, err),
                   problem_of_open_error(err));
  MediaInput input;
  input.format.reset(raw);
  if (int err = avformat_find_stream_info(raw, nullptr); err < 0)
    return failure(MediaStatus::not_playable, av_error_text("cannot read the streams", err),
                   InputProblem::not_media);
  int stream = pick_video_stream(raw);
  if (stream < 0)
    return failure(MediaStatus::not_playable, "the file holds no video stream",
                   InputProblem::no_video);
  if (std::string bad = check_picture_size(raw->streams[stream]->codecpar); !bad.empty())
    return failure(MediaStatus::not_playable, bad, InputProblem::bad_size);
  for (unsigned i = 0; i < raw->nb_streams; ++i)
    if (static_cast<int>(i) != stream) raw->streams[i]->discard = AVDISCARD_ALL;
  input.stream = stream;
  return input;
}

int64_t file_size(AVFormatContext* format) {
  return format->pb != nullptr ? avio_size(format->pb) : -1;
}

}  // namespace host
