// SPDX-License-Identifier: GPL-3.0-or-later
// ClipReader::open: from a path to a clip ready to hand out full-size pictures, or why not.
#include <new>

#include "decode/open_stream.h"
#include "scan/input/clip_reader.h"
#include "scan/input/clip_reader_pool.h"

namespace scan {

decode::Opening<std::unique_ptr<ClipReader>> ClipReader::open_reader(
    const std::string& path, int threads, const decode::ShouldStop& stop) {
  const auto stopped = [&] {
    return decode::open_failure(decode::OpenProblem::stopped, "stopped while reading " + path);
  };
  decode::Opening<decode::OpenedStream> stream = decode::open_stream(path, threads, stop);
  if (!stream) return base::failure(stream.error());
  ScanFrames frames = count_scan_frames(stream->format.get(), stream->stream, stream->table,
                                        stream->avi, path, stop);
  if (stop && stop()) return stopped();
  if (frames.count <= 0)
    return decode::open_failure(decode::OpenProblem::no_picture, "the file holds no picture");
  decode::SlotTable table = std::move(stream->table);
  const decode::DisplayMatrix display = stream->display;
  const int width = stream->width, height = stream->height;
  std::optional<std::string> creation_time = std::move(stream->creation_time);
  const bool variable_rate = frames.variable_rate;
  std::vector<int64_t> stamps = frames.stamps;
  // Pictures that stand alone go to several decoders at once; without them (no memory
  // for more decoders), to the one.
  std::unique_ptr<decode::IntraPool> pool;
  std::shared_ptr<JpegWish> jpeg;
  if (decode::IntraPool::suits(stream->codec->codec_id)) {
    auto opened = open_pool(stream->format->streams[stream->stream], threads, jpeg, true);
    if (opened) pool = std::move(*opened);
  }
  decode::DecodeCursor cursor(std::move(*stream));
  if (variable_rate) cursor.number_by_rank(std::move(stamps));
  cursor.set_stop(stop);
  auto reader = std::make_unique<ClipReader>(std::move(cursor), std::move(frames), std::move(table),
                                             display, width, height);
  reader->set_pool(std::move(pool), std::move(jpeg));
  reader->creation_time_ = std::move(creation_time);
  if (!reader->start()) {
    if (stop && stop()) return stopped();
    return decode::open_failure(decode::OpenProblem::no_picture, "no picture of the file decodes");
  }
  return reader;
}

decode::Opening<std::unique_ptr<ClipReader>> ClipReader::open(const std::string& path,
                                                              int threads,
                                                              const decode::ShouldStop& stop) {
  try {
    return open_reader(path, threads, stop);
  } catch (const std::bad_alloc&) {
    return decode::open_failure(decode::OpenProblem::out_of_memory,
                                "out of memory while opening " + path);
  }
}

}  // namespace scan
