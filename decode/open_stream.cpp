// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/open_stream.h"

#include <algorithm>
#include <optional>

#include "decode/decoder_setup.h"

extern "C" {
#include <libavutil/dict.h>
}

namespace decode {

Opening<OpenedStream> open_stream(const std::string& path, int threads,
                                  const ShouldStop& stop) {
  Opening<MediaInput> input = open_media(path);
  if (!input) return base::failure(input.error());
  AVFormatContext* format = input->format.get();
  const AVStream* stream = format->streams[input->stream];
  Opening<CodecPtr> codec = open_decoder(stream, std::max(threads, 1));
  if (!codec) return base::failure(codec.error());
  OpenedStream opened;
  opened.path = path;
  // Taken before the file is read through, which may change what a demuxer says.
  if (const AVDictionaryEntry* created = av_dict_get(format->metadata, "creation_time", nullptr, 0);
      created != nullptr && created->value != nullptr)
    opened.creation_time = created->value;
  opened.avi = is_avi(format);
  opened.clock = SlotClock::of(format, stream);
  opened.table = build_slot_table(format, input->stream, opened.clock, opened.avi, path, stop);
  if (stop && stop()) return open_failure(OpenProblem::stopped, "stopped while reading " + path);
  if (std::optional<std::string> damaged = damaged_timing(
          opened.table, file_size(format), smallest_slot_bytes(stream, opened.avi)))
    return open_failure(OpenProblem::damaged_timing, *damaged);
  opened.display = display_matrix_of(stream);
  opened.width = stream->codecpar->width;
  opened.height = stream->codecpar->height;
  opened.stream = input->stream;
  opened.format = std::move(input->format);
  opened.codec = std::move(*codec);
  return opened;
}

}  // namespace decode
