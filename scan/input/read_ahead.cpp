// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/read_ahead.h"

#include <new>

extern "C" {
#include <libavutil/frame.h>
}

namespace scan {
namespace {

// Pictures fetched ahead of the one in use: enough to cover the unevenness of decoding
// times, few enough that only a handful of frames are ever held.
constexpr size_t ahead = 2;

constexpr const char* out_of_memory = "not enough memory for the next picture";

}  // namespace

ReadAhead::ReadAhead(std::unique_ptr<FrameSource> source) : source_(std::move(source)) {}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (fetcher_.joinable()) fetcher_.join();
}

bool ReadAhead::choose(FrameChoice choice) {
  if (!source_->choose(std::move(choice))) return false;
  through_ = source_->decodes_ahead();
  if (!through_) fetcher_ = std::thread([this] { fetch_all(); });
  return true;
}

void ReadAhead::fetch_all() {
  try {
    fetch_to_end();
  } catch (const std::bad_alloc&) {
    std::lock_guard lock(mutex_);
    out_of_memory_ = true;
  }
  changed_.notify_all();
}

void ReadAhead::fetch_to_end() {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || ready_.size() < ahead; });
      if (stopping_) return;
    }
    Fetched f;
    const AVFrame* picture = source_->next(f.frame);
    // A reference of its own: the source's picture is valid only until its next call.
    if (picture != nullptr) {
      f.picture = decode::new_frame();
      if (!f.picture || av_frame_ref(f.picture.get(), picture) < 0) f.picture.reset();
    }
    f.stamp = source_->stamp();
    f.broke_off = source_->broke_off();
    f.read_error = source_->read_error();
    f.damaged = source_->damaged();
    f.first_damaged = source_->first_damaged();
    f.failure = source_->failure();
    const bool end = !f.picture;
    if (end && picture != nullptr) f.failure = out_of_memory;
    {
      std::lock_guard lock(mutex_);
      ready_.push_back(std::move(f));
    }
    changed_.notify_all();
    if (end) return;
  }
}

const AVFrame* ReadAhead::next(int64_t& frame) {
  if (through_) return source_->next(frame);
  if (ended_) return nullptr;
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !ready_.empty() || out_of_memory_; });
    if (ready_.empty()) {
      current_ = Fetched{};
      current_.failure = out_of_memory;
    } else {
      current_ = std::move(ready_.front());
      ready_.pop_front();
    }
  }
  changed_.notify_all();
  ended_ = current_.picture == nullptr;
  if (ended_) return nullptr;
  frame = current_.frame;
  return current_.picture.get();
}

}  // namespace scan
