// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/playback.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <system_error>

namespace service {
namespace {

// A header may claim any rate; keep playback between a frame every two seconds and
// a thousand a second.
std::chrono::steady_clock::duration frame_period(double fps) {
  if (!std::isfinite(fps)) fps = 25.0;
  fps = std::clamp(fps, 0.5, 1000.0);
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(1.0 / fps));
}

// The playback thread always lets go of the lock at least this long between frames, so
// that commands get through even when decoding cannot keep up with the frame rate.
constexpr auto kBreather = std::chrono::milliseconds(1);

}  // namespace

Session::Session(std::unique_ptr<Clip> clip, std::optional<int32_t> parent, std::mutex& lock,
                 WindowLookup lookup)
    : clip_(std::move(clip)),
      parent_(parent),
      lock_(lock),
      lookup_(std::move(lookup)),
      destination_{0, 0, clip_->width(), clip_->height()},
      period_(frame_period(clip_->frames_per_second())) {
  clip_->set_output_size(destination_.width, destination_.height);
}

Session::~Session() {
  if (!thread_.joinable()) return;  // never played: nobody else looks at this session
  {
    std::lock_guard guard(lock_);
    quit_ = true;
    playing_ = false;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Session::check(const Held& held) const {
  if (held.mutex() == &lock_ && held.owns_lock()) return;
  std::fputs("Session: called without the media service's lock\n", stderr);
  std::abort();
}

int64_t Session::length(const Held& held) const {
  check(held);
  return clip_->length();
}

int64_t Session::position(const Held& held) const {
  check(held);
  return clip_->position();
}

MediaStatus Session::set_destination(std::optional<Rect> destination, const Held& held) {
  check(held);
  destination_ = destination.value_or(Rect{0, 0, clip_->width(), clip_->height()});
  clip_->set_output_size(destination_.width, destination_.height);
  present(held);
  return MediaStatus::ok;
}

MediaStatus Session::play(const Held& held) {
  check(held);
  has_played_ = true;
  present(held);
  if (clip_->position() + 1 >= clip_->length()) {
    playing_ = false;  // at the end: halts on the last frame at once
    return MediaStatus::ok;
  }
  if (!thread_.joinable() && !start_thread()) return MediaStatus::out_of_memory;
  if (!playing_) {
    playing_ = true;
    due_ = Clock::now() + period_;
  }
  wake_.notify_all();
  return MediaStatus::ok;
}

void Session::halt(const Held& held) {
  check(held);
  playing_ = false;
}

MediaStatus Session::step(bool reverse, const Held& held) {
  check(held);
  playing_ = false;
  const MediaStatus status = reverse ? clip_->step_back() : clip_->step_forward();
  present(held);
  return status;
}

MediaStatus Session::seek(int64_t frame, const Held& held) {
  check(held);
  const int64_t length = clip_->length();
  if (frame < 0 || frame > length) return MediaStatus::number_out_of_range;
  playing_ = false;
  const MediaStatus status = clip_->seek(std::min(frame, length - 1));
  present(held);
  return status;
}

MediaStatus Session::update(DrawingSurface& surface, const Held& held) {
  check(held);
  const PixelBuffer target = surface.pixels();
  if (target.pixels == nullptr || target.width <= 0 || target.height <= 0 ||
      target.stride < target.width)
    return MediaStatus::no_such_surface;
  const MediaStatus status = clip_->render(target, destination_);
  surface.painted();
  return status;
}

void Session::close(const Held& held) {
  abandon(held);
  if (!parent_) return;
  if (VideoWindow* window = lookup_(*parent_)) window->show(nullptr);
}

void Session::abandon(const Held& held) {
  check(held);
  quit_ = true;
  playing_ = false;
  wake_.notify_all();
}

// False when the system has no thread to give (too many, or no memory for its stack).
bool Session::start_thread() {
  try {
    thread_ = std::thread([this] { run(); });
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void Session::run() {
  Held held(lock_);
  while (!quit_) {
    if (!playing_) {
      wake_.wait(held);
    } else if (Clock::now() < due_) {
      wake_.wait_until(held, due_);
    } else {
      advance(held);
    }
  }
}

void Session::advance(const Held& held) {
  check(held);
  try {
    if (clip_->position() + 1 >= clip_->length() || clip_->step_forward() != MediaStatus::ok) {
      playing_ = false;  // the end, or a frame that cannot be read: halt where we stand
      return;
    }
    present(held);
  } catch (const std::bad_alloc&) {
    playing_ = false;  // out of memory while showing: stop rather than end the process
    return;
  }
  // No bursts to catch up after a stall: late frames are shown as soon as they can be.
  due_ = std::max(due_ + period_, Clock::now() + kBreather);
}

void Session::present(const Held& held) {
  check(held);
  if (!has_played_ || !parent_) return;
  VideoWindow* window = lookup_(*parent_);
  if (window == nullptr) return;
  if (auto picture = clip_->picture(destination_)) window->show(std::move(picture));
}

}  // namespace service
