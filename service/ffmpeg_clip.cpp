// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/ffmpeg_clip.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "decode/media_input.h"

namespace service {

FfmpegClip::FfmpegClip(decode::DecodeCursor cursor, decode::SlotTable table, double fps, int width, int height)
    : walk_(std::move(cursor)), table_(std::move(table)), fps_(fps), width_(width),
      height_(height) {
  configure_pool(width, height, false);  // a caller that wants the pool sets its size
}

MediaStatus FfmpegClip::start() {
  // The cursor stands at the top of the file; no seek needed for frame 0.
  if (!walk_.load_next()) return MediaStatus::decode_failed;
  return show(0, 0);
}

// ---- moving -----------------------------------------------------------------------------

MediaStatus FfmpegClip::seek(int64_t frame) {
  if (frame < 0 || frame >= table_.length) return MediaStatus::number_out_of_range;
  if (pool_.find(frame) != nullptr) {
    position_ = frame;
    return MediaStatus::ok;
  }
  return show(frame, frame);
}

MediaStatus FfmpegClip::step_forward() {
  if (position_ >= table_.length - 1) return MediaStatus::ok;
  return seek(position_ + 1);
}

MediaStatus FfmpegClip::step_back() {
  if (position_ <= 0) return MediaStatus::ok;
  int64_t slot = position_ - 1;
  if (pool_.find(slot) != nullptr) {
    position_ = slot;
    return MediaStatus::ok;
  }
  // Decode up to the frame wanted, keeping as many pictures before it as the pool holds,
  // so the next steps back are served from memory.
  int64_t keep = static_cast<int64_t>(pool_.capacity());
  return show(slot, slot - std::max<int64_t>(keep, 1) + 1);
}

// Puts the decoder on `slot`, keeps the pictures from `keep_from` on in the pool, and
// shows `slot`. On failure the position does not move.
MediaStatus FfmpegClip::show(int64_t slot, int64_t keep_from) {
  if (!reachable_forward(slot)) {
    if (MediaStatus status = restart_for(slot); status != MediaStatus::ok) return status;
  }
  walk_.advance_to(slot, [&](int64_t previous) {
    previous_slot_ = previous >= 0 && current_kept_ ? previous : -1;
    current_kept_ = false;
    if (walk_.current().slot >= keep_from) keep_current();
  });
  if (!walk_.current().held()) return MediaStatus::decode_failed;
  keep_current();
  const decode::Decoded& next = walk_.next();
  int64_t covered = next.held() ? next.slot - 1 : walk_.at_end() ? table_.length - 1 : slot;
  pool_.cover_to(std::min(covered, table_.length - 1));
  position_ = slot;
  return MediaStatus::ok;
}

// Decoding on from where the decoder stands is no dearer than starting at the keyframe,
// or it is a step or two: a restart just past a keyframe may have to go back a whole group
// when the keyframe's B-frames lean on the group before it.
bool FfmpegClip::reachable_forward(int64_t slot) const {
  const decode::Decoded& first = walk_.current().held() ? walk_.current() : walk_.next();
  if (!first.held() || first.slot > slot) return false;
  if (slot - first.slot <= 2) return true;
  int key = table_.key_at_or_before(slot);
  return key < 0 || first.slot >= table_.key_slots[key];
}

// Starts the decoder at the last keyframe before `slot`, or earlier (see Lookahead). A
// damaged clip may hold pictures before its first keyframe, or give none after a seek that
// its first reading through decoded: the search goes on to the top of the file.
MediaStatus FfmpegClip::restart_for(int64_t slot) {
  current_kept_ = false;
  previous_slot_ = -1;
  return walk_.restart_for(slot, table_, -1) ? MediaStatus::ok : MediaStatus::decode_failed;
}

void FfmpegClip::keep_current() {
  const decode::Decoded& current = walk_.current();
  if (current_kept_ || pool_.capacity() == 0 || !current.held()) return;
  bool follows = previous_slot_ >= 0 && pool_.last_slot() == previous_slot_;
  if (!follows) pool_.clear();
  uint32_t* pixels = pool_.append(current.slot);
  if (!pool_scaler_.scale(current.frame.get(), pixels, out_w_, out_h_, out_w_)) {
    pool_.clear();
    return;
  }
  current_kept_ = true;
}

// ---- pictures ---------------------------------------------------------------------------

void FfmpegClip::set_output_size(int width, int height) {
  if (width <= 0 || height <= 0 || width > decode::max_side || height > decode::max_side) return;
  if (width == out_w_ && height == out_h_) return;
  configure_pool(width, height, true);
}

void FfmpegClip::configure_pool(int width, int height, bool commit) {
  out_w_ = width;
  out_h_ = height;
  size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
  size_t wanted = static_cast<size_t>(std::max<int64_t>(table_.max_key_distance, 1)) + 2;
  pool_.configure(width, height, std::min(pool_byte_cap / bytes, wanted), commit);
  current_kept_ = false;
  previous_slot_ = -1;
}

const uint32_t* FfmpegClip::shown_picture() {
  if (const uint32_t* pixels = pool_.find(position_)) return pixels;
  if (show(position_, position_) != MediaStatus::ok) return nullptr;
  // Before the clip's first decodable picture, that picture stands in (see advance_to).
  return pool_.find(std::max(position_, walk_.current().slot));
}

// Scales the decoded picture of the position shown (decoding it again if the position
// came from the pool) to width x height.
MediaStatus FfmpegClip::scale_shown(uint32_t* pixels, int width, int height, int stride) {
  const decode::Decoded& current = walk_.current();
  const decode::Decoded& next = walk_.next();
  if (!(current.held() && current.slot <= position_ &&
        (next.held() ? position_ < next.slot : walk_.at_end()))) {
    if (MediaStatus status = show(position_, position_); status != MediaStatus::ok) return status;
  }
  if (!render_scaler_.scale(walk_.current().frame.get(), pixels, width, height, stride))
    return MediaStatus::decode_failed;
  return MediaStatus::ok;
}

namespace {

Rect intersect(Rect a, Rect b) {
  int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  int64_t x1 = std::min<int64_t>(int64_t{a.x} + a.width, int64_t{b.x} + b.width);
  int64_t y1 = std::min<int64_t>(int64_t{a.y} + a.height, int64_t{b.y} + b.height);
  if (x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, static_cast<int>(x1 - x0), static_cast<int>(y1 - y0)};
}

// Copies the part `visible` of a picture laid at `dest` into `target`.
void copy_visible(const uint32_t* picture, Rect dest, Rect visible, const PixelBuffer& target) {
  for (int y = visible.y; y < visible.y + visible.height; ++y) {
    const uint32_t* from = picture + static_cast<size_t>(y - dest.y) * dest.width + (visible.x - dest.x);
    uint32_t* to = target.pixels + static_cast<size_t>(y) * target.stride + visible.x;
    std::memcpy(to, from, static_cast<size_t>(visible.width) * 4);
  }
}

}  // namespace

MediaStatus FfmpegClip::render(const PixelBuffer& target, Rect dest) {
  if (target.pixels == nullptr || target.width <= 0 || target.height <= 0 ||
      target.stride < target.width || dest.width <= 0 || dest.height <= 0)
    return MediaStatus::ok;  // nothing can be painted
  Rect visible = intersect(dest, Rect{0, 0, target.width, target.height});
  if (visible.width == 0) return MediaStatus::ok;
  if (dest.width > decode::max_side || dest.height > decode::max_side) return MediaStatus::out_of_memory;
  try {
    if (dest.width == out_w_ && dest.height == out_h_ && pool_.capacity() > 0) {
      const uint32_t* picture = shown_picture();
      if (picture == nullptr) return MediaStatus::decode_failed;
      copy_visible(picture, dest, visible, target);
      return MediaStatus::ok;
    }
    if (visible == dest) {
      uint32_t* origin = target.pixels + static_cast<size_t>(dest.y) * target.stride + dest.x;
      return scale_shown(origin, dest.width, dest.height, target.stride);
    }
    scratch_.resize(static_cast<size_t>(dest.width) * dest.height);
    if (MediaStatus status = scale_shown(scratch_.data(), dest.width, dest.height, dest.width);
        status != MediaStatus::ok)
      return status;
    copy_visible(scratch_.data(), dest, visible, target);
    return MediaStatus::ok;
  } catch (const std::bad_alloc&) {
    return MediaStatus::out_of_memory;
  }
}

std::shared_ptr<const VideoPicture> FfmpegClip::picture(Rect place) {
  if (place.width <= 0 || place.height <= 0 || place.width > decode::max_side || place.height > decode::max_side)
    return nullptr;
  try {
    auto shown = std::make_shared<VideoPicture>();
    shown->place = place;
    shown->pixels.resize(static_cast<size_t>(place.width) * place.height);
    PixelBuffer buffer{shown->pixels.data(), place.width, place.height, place.width};
    if (render(buffer, Rect{0, 0, place.width, place.height}) != MediaStatus::ok) return nullptr;
    return shown;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace service
