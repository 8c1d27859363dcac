// SPDX-License-Identifier: GPL-3.0-or-later
// Scaled pictures of consecutive frame slots, kept so that stepping back costs no decoding.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace service {

class FramePool {
 public:
  // Sets the picture size and how many pictures are kept. Buffers are reserved now; with
  // `commit` their memory is also touched now, else the system commits each page when a
  // picture first lands in it (a page fault in the middle of a step).
  void configure(int width, int height, size_t capacity, bool commit);
  void clear() { count_ = 0; }

  size_t capacity() const { return slots_.size(); }
  bool empty() const { return count_ == 0; }
  int64_t first_slot() const;
  int64_t last_slot() const;
  int64_t covered_to() const { return covered_to_; }

  // The picture shown at `slot`: that of the last kept picture at or before it, when
  // `slot` lies within the kept run. Null otherwise.
  const uint32_t* find(int64_t slot) const;

  // A buffer for the picture of `slot`, which must follow the last one kept; the oldest
  // picture makes room when the pool is full. Null when the pool holds nothing.
  uint32_t* append(int64_t slot);
  // The last picture kept stands for every slot up to `slot`.
  void cover_to(int64_t slot);

 private:
  size_t at(size_t i) const { return (head_ + i) % slots_.size(); }

  size_t pixels_ = 0;
  std::vector<std::unique_ptr<uint32_t[]>> buffers_;
  std::vector<int64_t> slots_;
  size_t head_ = 0, count_ = 0;
  int64_t covered_to_ = -1;
};

}  // namespace service
