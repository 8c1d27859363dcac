// SPDX-License-Identifier: GPL-3.0-or-later
// One open clip: frame-exact positioning and scaled pictures of the frame shown.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "decode/media_input.h"
#include "service/media_errors.h"
#include "service/surfaces.h"

namespace service {

// The service's status for a clip that could not be opened.
MediaStatus status_of(decode::OpenProblem problem);

// Not thread-safe: one thread at a time (a caller with a playback thread locks around it).
class Clip {
 public:
  struct Opened {
    std::unique_ptr<Clip> clip;  // null on failure
    MediaStatus status = MediaStatus::ok;
    std::string detail;  // what FFmpeg said, for logs and tests
  };

  // Opens a file that libavformat reads and that holds a video stream, positioned on
  // frame 0. Does not read the whole file when the container has an index.
  static Opened open(const std::string& path);

  virtual ~Clip() = default;

  // Frame slots (at the clip's frame rate) up to the last picture the file really holds.
  virtual int64_t length() const = 0;
  // The slot shown, 0 .. length() - 1.
  virtual int64_t position() const = 0;
  virtual int width() const = 0;
  virtual int height() const = 0;
  virtual double frames_per_second() const = 0;

  // Shows exactly slot `frame` (0 .. length() - 1); on failure the position is unchanged.
  virtual MediaStatus seek(int64_t frame) = 0;
  // One slot on or back; at the last (first) slot they stay and succeed.
  virtual MediaStatus step_forward() = 0;
  virtual MediaStatus step_back() = 0;

  // The size pictures are scaled to (the destination rectangle's); frames kept for
  // stepping back are kept at this size.
  virtual void set_output_size(int width, int height) = 0;

  // Paints the frame shown, scaled to `dest`, into `target`; pixels outside the target
  // are not written.
  virtual MediaStatus render(const PixelBuffer& target, Rect dest) = 0;
  // The frame shown scaled to the output size, for a video window.
  virtual std::shared_ptr<const VideoPicture> picture(Rect place) = 0;
};

}  // namespace service
