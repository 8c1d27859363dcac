// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/frame_pool.h"
#include <algorithm>

namespace service {

void FramePool::configure(int width, int height, size_t capacity, bool commit) {
  pixels_ = static_cast<size_t>(width) * static_cast<size_t>(height);
  buffers_.clear();
  buffers_.resize(capacity);
  // Default-initialised: untouched pages cost no memory until a picture lands in them.
  // Committing them now keeps page faults out of the steps that fill the pool later.
  for (auto& buffer : buffers_) {
    buffer.reset(new uint32_t[pixels_]);
    if (commit) std::fill_n(buffer.get(), pixels_, 0u);
  }
  slots_.assign(capacity, -1);
  head_ = count_ = 0;
  covered_to_ = -1;
}

int64_t FramePool::first_slot() const { return empty() ? -1 : slots_[at(0)]; }
int64_t FramePool::last_slot() const { return empty() ? -1 : slots_[at(count_ - 1)]; }

const uint32_t* FramePool::find(int64_t slot) const {
  if (empty() || slot < first_slot() || slot > covered_to_) return nullptr;
  // Binary search for the last kept picture at or before `slot`.
  size_t lo = 0, hi = count_;
  while (hi - lo > 1) {
    size_t mid = (lo + hi) / 2;
    if (slots_[at(mid)] <= slot) lo = mid;
    else hi = mid;
  }
  return buffers_[at(lo)].get();
}

uint32_t* FramePool::append(int64_t slot) {
  if (slots_.empty()) return nullptr;
  if (!empty() && slot <= last_slot()) clear();
  if (count_ == slots_.size()) {
    head_ = at(1);
    --count_;
  }
  size_t i = at(count_++);
  slots_[i] = slot;
  covered_to_ = slot;
  return buffers_[i].get();
}

void FramePool::cover_to(int64_t slot) {
  if (!empty() && slot > covered_to_) covered_to_ = slot;
}

}  // namespace service
