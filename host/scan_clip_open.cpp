// ScanClip::open: from a path to a clip ready to hand out full-size pictures, or a reason.
#include <new>
#include <string_view>

#include "host/decoder_setup.h"
#include "host/media_input.h"
#include "host/scan_clip.h"

namespace host {
namespace {

ScanClip::Opened failed(ScanFailure failure, std::string detail) {
  ScanClip::Opened opened;
  opened.failure = failure;
  opened.detail = std::move(detail);
  return opened;
}

ScanFailure failure_of(InputProblem problem) {
  switch (problem) {
    case InputProblem::none:
      return ScanFailure::none;
    case InputProblem::missing:
      return ScanFailure::missing;
    case InputProblem::folder:
      return ScanFailure::folder;
    case InputProblem::not_regular:
      return ScanFailure::not_regular;
    case InputProblem::empty:
      return ScanFailure::empty;
    case InputProblem::unreadable:
      return ScanFailure::unreadable;
    case InputProblem::not_media:
      return ScanFailure::not_media;
    case InputProblem::no_video:
      return ScanFailure::no_video;
    case InputProblem::bad_size:
      return ScanFailure::bad_size;
    case InputProblem::out_of_memory:
      return ScanFailure::out_of_memory;
  }
  return ScanFailure::not_media;
}

}  // namespace

struct ScanOpener {
  static ScanClip::Opened open(const std::string& path, int threads, const ShouldStop& stop) {
    const auto stopped = [&] { return stop && stop(); };
    MediaInput input = open_media(path);
    if (input.status != MediaStatus::ok) return failed(failure_of(input.problem), input.detail);
    AVFormatContext* format = input.format.get();
    AVStream* stream = format->streams[input.stream];
    OpenedDecoder decoder = open_decoder(stream, std::max(threads, 1));
    if (!decoder.codec)
      return failed(decoder.no_decoder ? ScanFailure::no_decoder : ScanFailure::not_media,
                    decoder.detail);
    const bool avi = std::string_view(format->iformat->name) == "avi";
    SlotClock clock = SlotClock::of(format, stream);
    SlotTable table = build_slot_table(format, input.stream, clock, avi, path, stop);
    if (stopped()) return failed(ScanFailure::stopped, {});
    if (std::string damaged = damaged_timing(table, file_size(format)); !damaged.empty())
      return failed(ScanFailure::damaged_timing, damaged);
    ScanFrames frames = count_scan_frames(format, input.stream, table, avi, path, stop);
    if (stopped()) return failed(ScanFailure::stopped, {});
    if (frames.count <= 0) return failed(ScanFailure::no_picture, "the file holds no picture");
    DecodeCursor cursor(path, std::move(input.format), input.stream, std::move(decoder.codec),
                        frames.clock, avi);
    if (frames.variable_rate) cursor.number_by_rank(frames.stamps);
    cursor.set_stop(stop);
    int width = stream->codecpar->width, height = stream->codecpar->height;
    auto clip = std::make_unique<ScanClip>(std::move(cursor), std::move(frames), std::move(table),
                                           width, height);
    if (!clip->start()) {
      if (stopped()) return failed(ScanFailure::stopped, {});
      return failed(ScanFailure::no_picture, "no picture of the file decodes");
    }
    clip->display_ = display_matrix_of(stream);
    ScanClip::Opened opened;
    opened.clip = std::move(clip);
    return opened;
  }
};

ScanClip::Opened ScanClip::open(const std::string& path, int threads, const ShouldStop& stop) {
  try {
    return ScanOpener::open(path, threads, stop);
  } catch (const std::bad_alloc&) {
    return failed(ScanFailure::out_of_memory, "out of memory while opening " + path);
  }
}

}  // namespace host
