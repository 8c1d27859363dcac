// SPDX-License-Identifier: GPL-3.0-or-later
// Clip::open: from a path to a clip standing on frame 0, or a status saying why not.
#include <new>

#include "decode/open_stream.h"
#include "service/ffmpeg_clip.h"

namespace service {

namespace {

Clip::Opened failed(MediaStatus status, std::string detail) {
  Clip::Opened opened;
  opened.status = status;
  opened.detail = std::move(detail);
  return opened;
}

Clip::Opened open_clip(const std::string& path) {
  // One thread: pictures then leave the decoder one packet after their own, which is
  // what tells their slot in an AVI.
  decode::Opening<decode::OpenedStream> stream = decode::open_stream(path, 1);
  if (!stream) return failed(status_of(stream.error().problem), stream.error().detail);
  decode::SlotTable table = std::move(stream->table);
  if (table.length <= 0) return failed(MediaStatus::not_playable, "the file holds no picture");
  const double fps = av_q2d(stream->clock.rate);
  const int width = stream->width, height = stream->height;
  auto clip = std::make_unique<FfmpegClip>(decode::DecodeCursor(std::move(*stream)),
                                           std::move(table), fps, width, height);
  if (clip->start() != MediaStatus::ok)
    return failed(MediaStatus::not_playable, "no picture of the file could be decoded");
  Clip::Opened opened;
  opened.clip = std::move(clip);
  return opened;
}

}  // namespace

MediaStatus status_of(decode::OpenProblem problem) {
  using decode::OpenProblem;
  switch (problem) {
    case OpenProblem::missing:
      return MediaStatus::no_such_file;
    case OpenProblem::folder:
    case OpenProblem::not_regular:
    case OpenProblem::empty:
    case OpenProblem::unreadable:
    case OpenProblem::timed_out:
      return MediaStatus::unreadable_file;
    case OpenProblem::out_of_memory:
      return MediaStatus::out_of_memory;
    case OpenProblem::not_media:
    case OpenProblem::no_video:
    case OpenProblem::no_decoder:
    case OpenProblem::bad_size:
    case OpenProblem::damaged_timing:
    case OpenProblem::no_picture:
    case OpenProblem::stopped:
    case OpenProblem::bad_option:
      break;
  }
  return MediaStatus::not_playable;
}

Clip::Opened Clip::open(const std::string& path) {
  try {
    return open_clip(path);
  } catch (const std::bad_alloc&) {
    return failed(MediaStatus::out_of_memory, "out of memory while opening " + path);
  }
}

}  // namespace service
