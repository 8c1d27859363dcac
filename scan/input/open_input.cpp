// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/open_input.h"


#include "scan/input/clip_messages.h"
#include "scan/input/clip_reader.h"
#include "scan/input/image_list.h"
#include "scan/input/image_sequence.h"
#include "scan/input/read_ahead.h"
#include "scan/input/stream_reader.h"
#include "scan/input/tiff_stack.h"

namespace scan {

InputOpening open_input(const InputRequest& o, int threads, const decode::ShouldStop& stop) {
  const auto failed = [&](const decode::OpenFailure& why) {
    return base::failed(o.input + ": " + describe_failure(why));
  };
  const auto not_stack = [&] {
    return base::failed(o.input + ": --z, --channel and --frame-interval are for a TIFF "
                                  "stack of many pages");
  };
  if ((o.z > 0 || o.channel > 0 || o.interval > 0) &&
      (is_stream_input(o.input, o.format) || sequence_kind(o.input) != SequenceKind::none))
    return not_stack();
  if (is_stream_input(o.input, o.format)) {
    auto stream = StreamReader::open(
        StreamRequest{o.input, o.format, o.options, threads}, stop);
    if (!stream) return base::failure(stream.error());
    return std::unique_ptr<FrameSource>(std::move(*stream));
  }
  if (o.watch) {
    auto watched = FolderWatch::open(
        WatchRequest{o.input, o.clock, o.window, o.idle, o.now, threads, o.turn_images, o.resume}, stop);
    if (!watched) return base::failure(watched.error());
    return std::unique_ptr<FrameSource>(std::move(*watched));
  }
  if (const SequenceKind kind = sequence_kind(o.input); kind != SequenceKind::none) {
    auto files = list_images(o.input, kind);
    if (!files) return base::failure(files.error());
    if (o.window.bounded()) {
      *files = within(std::move(*files), o.window, o.clock);
      if (files->empty())
        return base::failed(o.input + ": no image's clock lies inside --since and --until");
    }
    std::vector<long long> numbers;
    if (kind == SequenceKind::printf) {
      const std::string name = o.input.substr(o.input.rfind('/') + 1);
      for (const std::string& file : *files)
        numbers.push_back(pattern_number(name, file.substr(file.rfind('/') + 1)).value_or(0));
    }
    auto sequence = ImageSequence::open(std::move(*files), threads, std::move(numbers), o.turn_images);
    if (!sequence) return base::failed(o.input + ": no image of the sequence decodes");
    return std::unique_ptr<FrameSource>(std::move(*sequence));
  }
  // A TIFF of many pages is a stack, read page by page; one of one page stays a picture.
  if (TiffStack::named_stack(o.input)) {
    auto stack = TiffStack::open(o.input, StackPick{o.z, o.channel, o.interval});
    if (!stack) return base::failure(stack.error());
    return std::unique_ptr<FrameSource>(std::move(*stack));
  }
  if (o.z > 0 || o.channel > 0 || o.interval > 0) return not_stack();
  auto clip = ClipReader::open(o.input, threads, stop);
  if (!clip) return failed(clip.error());
  // With threads to spare, the decoder is fed while the run converts.
  if (threads > 1) return std::unique_ptr<FrameSource>(std::make_unique<ReadAhead>(std::move(*clip)));
  return std::unique_ptr<FrameSource>(std::move(*clip));
}

}  // namespace scan
