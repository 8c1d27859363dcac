#include "host/playback.h"

#include <algorithm>
#include <cmath>

namespace host {
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

MediaStatus Session::set_destination(std::optional<Rect> destination) {
  destination_ = destination.value_or(Rect{0, 0, clip_->width(), clip_->height()});
  clip_->set_output_size(destination_.width, destination_.height);
  present();
  return MediaStatus::ok;
}

MediaStatus Session::play() {
  has_played_ = true;
  present();
  if (clip_->position() + 1 >= clip_->length()) {
    playing_ = false;  // at the end: halts on the last frame at once
    return MediaStatus::ok;
  }
  if (!playing_) {
    playing_ = true;
    due_ = Clock::now() + period_;
  }
  if (!thread_.joinable()) start_thread();
  wake_.notify_all();
  return MediaStatus::ok;
}

MediaStatus Session::step(bool reverse) {
  playing_ = false;
  const MediaStatus status = reverse ? clip_->step_back() : clip_->step_forward();
  present();
  return status;
}

MediaStatus Session::seek(int64_t frame) {
  const int64_t length = clip_->length();
  if (frame < 0 || frame > length) return MediaStatus::number_out_of_range;
  playing_ = false;
  const MediaStatus status = clip_->seek(std::min(frame, length - 1));
  present();
  return status;
}

MediaStatus Session::update(DrawingSurface& surface) {
  const PixelBuffer target = surface.pixels();
  if (target.pixels == nullptr || target.width <= 0 || target.height <= 0 ||
      target.stride < target.width)
    return MediaStatus::no_such_surface;
  const MediaStatus status = clip_->render(target, destination_);
  surface.painted();
  return status;
}

void Session::close() {
  abandon();
  if (!parent_) return;
  if (VideoWindow* window = lookup_(*parent_)) window->show(nullptr);
}

void Session::abandon() {
  quit_ = true;
  playing_ = false;
  wake_.notify_all();
}

void Session::start_thread() {
  thread_ = std::thread([this] { run(); });
}

void Session::run() {
  std::unique_lock lock(lock_);
  while (!quit_) {
    if (!playing_) {
      wake_.wait(lock);
    } else if (Clock::now() < due_) {
      wake_.wait_until(lock, due_);
    } else {
      advance();
    }
  }
}

void Session::advance() {
  try {
    if (clip_->position() + 1 >= clip_->length() || clip_->step_forward() != MediaStatus::ok) {
      playing_ = false;  // the end, or a frame that cannot be read: halt where we stand
      return;
    }
    present();
  } catch (...) {
    playing_ = false;  // out of memory while showing: stop rather than end the process
    return;
  }
  // No bursts to catch up after a stall: late frames are shown as soon as they can be.
  due_ = std::max(due_ + period_, Clock::now() + kBreather);
}

void Session::present() {
  if (!has_played_ || !parent_) return;
  VideoWindow* window = lookup_(*parent_);
  if (window == nullptr) return;
  if (auto picture = clip_->picture(destination_)) window->show(std::move(picture));
}

}  // namespace host
