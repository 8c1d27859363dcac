// One open clip as the service holds it: where its video goes, and the thread that
// plays it. Every member except the destructor is called with the service's lock held;
// the playback thread takes the same lock for each frame it advances and shows.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "host/clip.h"
#include "host/surfaces.h"

namespace host {

class Session {
 public:
  // Finds the window registered under a handle, or null; called with the lock held.
  using WindowLookup = std::function<VideoWindow*(int32_t handle)>;

  Session(std::unique_ptr<Clip> clip, std::optional<int32_t> parent, std::mutex& lock,
          WindowLookup lookup);
  // Without the lock: stops the playback thread and waits for it.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  int64_t length() const { return clip_->length(); }
  int64_t position() const { return clip_->position(); }
  bool playing() const { return playing_; }

  // Nothing means the clip's own size at 0, 0.
  MediaStatus set_destination(std::optional<Rect> destination);
  MediaStatus play();
  void halt() { playing_ = false; }
  MediaStatus step(bool reverse);
  // 0 .. length(); length() shows the last frame.
  MediaStatus seek(int64_t frame);
  MediaStatus update(DrawingSurface& surface);

  // Playback ends for good and the video leaves its window.
  void close();
  // Playback ends for good; windows are not touched (the service is going away).
  void abandon();

 private:
  using Clock = std::chrono::steady_clock;

  void run();
  void advance();
  void present();
  void start_thread();

  std::unique_ptr<Clip> clip_;
  std::optional<int32_t> parent_;
  std::mutex& lock_;
  WindowLookup lookup_;
  Rect destination_;
  bool has_played_ = false;  // the video window stays empty until the first play
  bool playing_ = false;
  bool quit_ = false;
  Clock::duration period_;
  Clock::time_point due_;
  std::condition_variable wake_;
  std::thread thread_;
};

}  // namespace host
