// SPDX-License-Identifier: GPL-3.0-or-later
// Where velmora-scan's pictures come from: a clip opened by name, a folder or pattern of
// images, a pipe, a URL or a live device. The run asks only this, so that every input
// makes its strips the same way.
#pragma once
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include "decode/display_orientation.h"
#include "scan/input/frame_rules.h"
#include "scan/slit/slit_scaler.h"

namespace scan {

// The stored pictures' size and depth (more than 8 bits per component), as a source's
// first picture gives them: a stream's parameters are only a guess.
struct PictureShape {
  int width = 0, height = 0;
  bool deep = false;

  static PictureShape of(const AVFrame& picture) {
    return {picture.width, picture.height, deep_pixel_format(picture.format)};
  }
};

// Frames from, from + every, ... before `to`.
struct FrameChoice {
  int64_t from = 0;
  int64_t to = 0;
  int64_t every = 1;
  // When not empty: only these of them, ascending (--bin's intervals). A source that can
  // go past a picture without decoding it (an image sequence) reads only these; others
  // hand out every frame from `from` on.
  std::vector<int64_t> only;

  // The frame `every` after `frame`, or `to` when that is past the range.
  int64_t step_after(int64_t frame) const { return every < to - frame ? frame + every : to; }
  // The frame read after `frame` by a source that reads `only` when given: the next of
  // them (`to` when none is left), else step_after.
  int64_t read_after(int64_t frame) const {
    if (only.empty()) return step_after(frame);
    auto next = std::upper_bound(only.begin(), only.end(), frame);
    return next == only.end() ? to : std::min(*next, to);
  }
};

// What is known of the picture next() handed out last: its frame, its time from the
// input's start (its presentation time; an image sequence's first image is at 0),
// for image sequences, the image's path (empty otherwise), whether it is another
// frame's picture shown again because the frame has none of its own that decoded, and
// whether it is the frame's own picture decoded only as far as its damaged data goes.
struct FrameStamp {
  int64_t frame = -1;
  double seconds = 0;
  std::string file;
  bool repeat = false;
  // Its own picture, but one that ends early or that the decoder found damaged.
  bool damaged = false;
};

class FrameSource {
 public:
  virtual ~FrameSource() = default;

  // The stored pictures' size; display() says how they are turned for showing.
  virtual int width() const = 0;
  virtual int height() const = 0;
  // More than 8 bits per component.
  virtual bool deep() const = 0;
  // The size of the pixels its strips are made of (strips/pixel_kind.h): RGB for every
  // input but a grey TIFF stack, whose samples are kept as they are.
  virtual int pixel_bytes() const { return deep() ? 6 : 3; }
  virtual const decode::DisplayMatrix& display() const = 0;
  // False for a pipe, a URL or a device: frames().count is then unknown (0), and the run
  // ends when next() gives no more.
  virtual bool length_known() const { return true; }
  virtual const ScanFrames& frames() const = 0;
  // The creation_time its container states, as it states it (ISO 8601): a clip's wall
  // clock, read by the opening that reads its pictures.
  virtual std::optional<std::string> creation_time() const { return std::nullopt; }
  // An image sequence's files, one a frame, in order; null for other inputs.
  virtual const std::vector<std::string>* image_files() const { return nullptr; }

  // Only `area` of each stored picture will be read (several calls: all their areas), so a
  // source may decode less of it. Call before choose().
  virtual void read_only(Rect area) { (void)area; }
  // Starts handing out the chosen frames; call once, before next().
  virtual bool choose(FrameChoice choice) = 0;
  // After choose(): pictures are decoded ahead on threads of the source's own.
  virtual bool decodes_ahead() const { return false; }
  // The picture of the next chosen frame, full size in the decoder's pixel format, valid
  // until the next call; null when every chosen frame has been handed out, when the input
  // broke off before it (broke_off()), or when it was asked to stop. A frame whose picture
  // does not decode shows the last good picture before it.
  virtual const AVFrame* next(int64_t& frame) = 0;
  // Of the picture next() handed out last.
  virtual const FrameStamp& stamp() const = 0;

  // The input ended before a chosen frame's picture; read_error() says why, where FFmpeg does.
  virtual bool broke_off() const = 0;
  virtual int read_error() const = 0;
  // Frames whose pictures did not decode.
  virtual int64_t damaged() const = 0;
  // The first of them by name, where they have names (image sequences).
  virtual std::string first_damaged() const { return {}; }
  // What the run should say of the input once it is done (images that do not decode, ...),
  // each a message without the program's name and the input's.
  virtual std::vector<std::string> warnings() const { return {}; }
  // What the run should say at once, each line once, without the program's name: a watched
  // folder's odd image as it arrives, which warnings() only counts at the end.
  virtual std::vector<std::string> news() { return {}; }
  // Why next() gave up on an input that cannot go on (an image of another size), as a
  // message without the program's name; nothing when it did not.
  virtual std::optional<std::string> failure() const { return std::nullopt; }
};

}  // namespace scan
