// SPDX-License-Identifier: GPL-3.0-or-later
// One open clip as the service holds it: where its video goes, and the thread that
// plays it. The playback thread takes the service's lock for each frame it advances and
// shows; every other caller holds that lock already and hands it in, and each member
// checks that it is the service's lock and that it is held.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "service/clip.h"
#include "service/surfaces.h"

namespace service {

class Session {
 public:
  // The service's lock, held by the caller.
  using Held = std::unique_lock<std::mutex>;
  // Finds the window registered under a handle, or null; runs under the service's lock.
  using WindowLookup = std::function<VideoWindow*(int32_t handle)>;

  // Nobody else knows the session yet, so the lock need not be held.
  Session(std::unique_ptr<Clip> clip, std::optional<int32_t> parent, std::mutex& lock,
          WindowLookup lookup);
  // Without the lock: stops the playback thread and waits for it.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  int64_t length(const Held& held) const;
  int64_t position(const Held& held) const;

  // Nothing means the clip's own size at 0, 0.
  MediaStatus set_destination(std::optional<Rect> destination, const Held& held);
  MediaStatus play(const Held& held);
  void halt(const Held& held);
  MediaStatus step(bool reverse, const Held& held);
  // 0 .. length(); length() shows the last frame.
  MediaStatus seek(int64_t frame, const Held& held);
  MediaStatus update(DrawingSurface& surface, const Held& held);

  // Playback ends for good and the video leaves its window.
  void close(const Held& held);
  // Playback ends for good; windows are not touched (the service is going away).
  void abandon(const Held& held);

 private:
  using Clock = std::chrono::steady_clock;

  // Ends the process when `held` is not this session's lock, locked: a caller that forgot
  // the lock would race the playback thread, which no test could be sure to catch.
  void check(const Held& held) const;
  void run();
  void advance(const Held& held);
  void present(const Held& held);
  bool start_thread();

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

}  // namespace service
