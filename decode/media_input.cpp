// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/media_input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "decode/av_error.h"

extern "C" {
#include <libavutil/dict.h>
}

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

std::optional<std::string> bad_picture_size(int width, int height) {
  if (width <= 0 || height <= 0) return "the video stream has no picture size";
  if (width > max_side || height > max_side || int64_t{width} * height > max_pixels)
    return "the video stream claims an unbelievable picture size " + std::to_string(width) +
           "x" + std::to_string(height);
  return std::nullopt;
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

// The video stream of `format`, whose streams are known, with a picture size to believe.
// A stream's header may leave the size to its pictures (0): `size_may_wait` lets it.
Opening<MediaInput> picked(InputPtr format, bool size_may_wait) {
  int stream = pick_video_stream(format.get());
  if (stream < 0) return open_failure(OpenProblem::no_video, "the file holds no video stream");
  const AVCodecParameters* par = format->streams[stream]->codecpar;
  const bool stated = par->width > 0 && par->height > 0;
  if (std::optional<std::string> bad = bad_picture_size(par->width, par->height);
      bad && (stated || !size_may_wait))
    return open_failure(OpenProblem::bad_size, *bad);
  return reading_only(std::move(format), stream);
}

// Probes the streams of an opened file and picks its video stream.
Opening<MediaInput> probed(InputPtr format) {
  if (int err = avformat_find_stream_info(format.get(), nullptr); err < 0)
    return open_failure(OpenProblem::not_media, av_error_text("cannot read the streams", err));
  return picked(std::move(format), false);
}

// How long a URL's read may wait for data: long enough for a slow server, short enough
// that a dead one is told.
constexpr int64_t url_read_timeout = 10'000'000;  // microseconds

bool is_url(const std::string& url) {
  struct stat st {};
  // A file of that name is the file, even when its name looks like a URL.
  return url.find("://") != std::string::npos && stat(url.c_str(), &st) != 0;
}

bool has_option(const StreamOptions& options, const std::string& key) {
  return std::any_of(options.begin(), options.end(),
                     [&](const auto& option) { return option.first == key; });
}

OpenProblem problem_of_stream_error(int code) {
  return code == AVERROR(ETIMEDOUT) ? OpenProblem::timed_out : problem_of_open_error(code);
}

int ask_stop(void* stop) {
  return base::asked_to_stop(*static_cast<const base::ShouldStop*>(stop)) ? 1 : 0;
}

struct DictionaryDeleter {
  void operator()(AVDictionary* dict) const { av_dict_free(&dict); }
};
using DictionaryPtr = std::unique_ptr<AVDictionary, DictionaryDeleter>;

// `opens` called with the dictionary FFmpeg takes the options it knows from.
template <class Open>
int with_dictionary(DictionaryPtr& options, Open opens) {
  AVDictionary* raw = options.release();
  const int result = opens(&raw);
  options.reset(raw);
  return result;
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

StreamOptions with_read_timeout(const std::string& url, StreamOptions options) {
  if (is_url(url) && !has_option(options, "rw_timeout"))
    options.emplace_back("rw_timeout", std::to_string(url_read_timeout));
  return options;
}

Opening<StreamInput> open_stream_input(const StreamSource& source) {
  StreamInput input;
  input.stop = std::make_unique<base::ShouldStop>(source.stop);
  const AVIOInterruptCB interrupt{&ask_stop, input.stop.get()};
  AVDictionary* listed = nullptr;
  for (const auto& [key, value] : with_read_timeout(source.url, source.options))
    av_dict_set(&listed, key.c_str(), value.c_str(), 0);
  DictionaryPtr options(listed);
  // Standard input is read through a reader of its own, which counts the bytes it read:
  // an empty one is told as such, not as data FFmpeg cannot make sense of.
  const bool piped = source.url == "-";
  if (piped) {
    AVIOContext* pipe = nullptr;
    const int opened = with_dictionary(options, [&](AVDictionary** raw) {
      return avio_open2(&pipe, "pipe:0", AVIO_FLAG_READ, &interrupt, raw);
    });
    if (opened < 0)
      return open_failure(problem_of_open_error(opened),
                          av_error_text("cannot read standard input", opened));
    input.pipe.reset(pipe);
  }
  AVFormatContext* raw = avformat_alloc_context();
  if (raw == nullptr) return open_failure(OpenProblem::out_of_memory, "not enough memory to open it");
  raw->interrupt_callback = interrupt;
  if (input.pipe) {
    raw->pb = input.pipe.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
  }
  // FFmpeg looks at 5 s of a stream before the first picture by default: a live camera's
  // pictures should come sooner. An analyzeduration option given overrides it.
  raw->max_analyze_duration = 500000;
  const int opened = with_dictionary(options, [&](AVDictionary** given) {
    return avformat_open_input(&raw, piped ? "pipe:0" : source.url.c_str(), source.format, given);
  });
  if (opened < 0 && input.pipe && input.pipe->bytes_read == 0 && !base::asked_to_stop(source.stop))
    return open_failure(OpenProblem::empty, "standard input was empty");
  if (opened < 0)
    return open_failure(problem_of_stream_error(opened), av_error_text("cannot open it", opened));
  InputPtr format(raw);
  // The read time-out added for a URL is taken by its protocols, or by none (rtsp:// reads
  // through its own); only an option given may be refused.
  for (const AVDictionaryEntry* unused = nullptr;
       (unused = av_dict_get(options.get(), "", unused, AV_DICT_IGNORE_SUFFIX)) != nullptr;) {
    if (std::string_view(unused->key) == "rw_timeout" && !has_option(source.options, "rw_timeout"))
      continue;
    return open_failure(OpenProblem::bad_option, std::string(unused->key) + "=" + unused->value);
  }
  // Looking into the stream costs time a live one fills with waiting: only when its header
  // does not say which video codec it holds (MPEG-TS finds its streams as it goes).
  bool known = false;
  for (unsigned i = 0; i < raw->nb_streams; ++i)
    known = known || (raw->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                      raw->streams[i]->codecpar->codec_id != AV_CODEC_ID_NONE);
  if (!known || (raw->ctx_flags & AVFMTCTX_NOHEADER) != 0) {
    if (int err = avformat_find_stream_info(raw, nullptr); err < 0)
      return open_failure(problem_of_stream_error(err), av_error_text("cannot read its streams", err));
  }
  Opening<MediaInput> video = picked(std::move(format), true);
  if (!video) return base::failure(video.error());
  input.format = std::move(video->format);
  input.stream = video->stream;
  return input;
}

int64_t file_size(AVFormatContext* format) {
  return format->pb != nullptr ? avio_size(format->pb) : -1;
}

}  // namespace decode
