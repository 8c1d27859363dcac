// SPDX-License-Identifier: GPL-3.0-or-later
// What the service tests share: their clips, a window and a surface that record what the
// service does to them, and a short way to send a command.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tools/clipwriter/clip_writer.h"
#include "service/media_service.h"
#include "service/short_names.h"
#include "service/surfaces.h"
#include "tests/support/clips.h"

namespace velmora_test {

// 30 frames, 320x240, raw RGB, 15 frames a second.
std::string rgb_clip();
// Small raw RGB clip for runs of thousands of commands.
std::string small_clip();

// Frame number the test pattern gives a pixel (red carries the frame).
inline int frame_of(uint32_t pixel) { return static_cast<int>((pixel >> 16) & 0xff); }

struct Reply {
  int32_t status;
  std::string text;
};
Reply send(service::MediaService& service, const std::string& command);

// "open <short name of path> alias A", with " style child parent H" when given.
std::string open_command(const std::string& path, const std::string& alias = "avfile",
                         const std::string& parent = "");

class RecordingWindow : public service::VideoWindow {
 public:
  void show(std::shared_ptr<const service::VideoPicture> picture) override;

  int pictures() const;
  int hides() const;
  std::shared_ptr<const service::VideoPicture> last() const;
  // Calls after the owner said it was gone; each one would have been a use after free.
  std::atomic<bool> gone{false};
  std::atomic<int> calls_after_gone{0};

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<const service::VideoPicture>> shown_;
  int hides_ = 0;
};

class BufferSurface : public service::DrawingSurface {
 public:
  BufferSurface(int width, int height, uint32_t fill = 0xff123456u)
      : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height, fill) {}
  service::PixelBuffer pixels() override { return {pixels_.data(), width_, height_, width_}; }
  void painted() override { ++painted_; }

  uint32_t at(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }
  int painted_count() const { return painted_; }

 private:
  int width_, height_;
  std::vector<uint32_t> pixels_;
  int painted_ = 0;
};

// Polls `done` until it holds or `limit` passes; true when it held.
bool wait_for(const std::function<bool()>& done,
              std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

int64_t position(service::MediaService& service, const std::string& alias = "avfile");

}  // namespace velmora_test
