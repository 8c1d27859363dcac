// SPDX-License-Identifier: GPL-3.0-or-later
// Numbered windows and drawing surfaces, as the media service sees them.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

namespace service {

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

// 32-bit pixels 0xffRRGGBB, rows `stride` pixels apart (the layout of an RGB32 image).
struct PixelBuffer {
  uint32_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
};

// Something the service can paint a frame into ("update ... hdc D").
// Called only on the thread that sends commands.
class DrawingSurface {
 public:
  virtual ~DrawingSurface() = default;
  virtual PixelBuffer pixels() = 0;
  // The service has finished writing into pixels(); the owner may repaint.
  virtual void painted() = 0;
};

// One picture for a video window: already scaled, to be shown at `place` in the parent.
struct VideoPicture {
  Rect place;
  std::vector<uint32_t> pixels;  // place.width * place.height, 0xffRRGGBB
};

// A parent window for a clip's video ("open ... style child parent H").
// show() may be called from the service's playback thread; a null picture hides the video.
class VideoWindow {
 public:
  virtual ~VideoWindow() = default;
  virtual void show(std::shared_ptr<const VideoPicture> picture) = 0;
};

}  // namespace service
