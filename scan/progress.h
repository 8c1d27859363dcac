// SPDX-License-Identifier: GPL-3.0-or-later
// The progress of a run's strips. On a terminal: frames done of frames to do, frames a
// second and time left, redrawn a few times a second; then a one-line summary.
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace scan {

// The frames whose strips are not the plain slit of their own picture.
struct OddFrames {
  int64_t damaged = 0;  // they show the picture before them
  int64_t scaled = 0;   // their picture size differs from the first picture's
  int64_t blank = 0;    // no picture of theirs converts and none came before: left black
  std::string shown_size;  // the first picture's size, "640 x 480", that `scaled` are shown at
};

// What a run says of its strips while it lasts. This one says nothing: it serves tests,
// the images of all slits but the first, and programs that do not show progress.
class Progress {
 public:
  virtual ~Progress() = default;
  // Strips to make; 0 when the input's length is not known.
  virtual void start(int64_t total) { (void)total; }
  // `done` strips of the total are made.
  virtual void update(int64_t done) { (void)done; }
  // Wipes what it showed (before an error message or the summary).
  virtual void clear() {}
  virtual void summary(int64_t strips, const std::string& image, int64_t file_bytes,
                       const OddFrames& odd) {
    (void)strips, (void)image, (void)file_bytes, (void)odd;
  }
};

// The bar on a terminal.
class TerminalProgress : public Progress {
 public:
  explicit TerminalProgress(std::FILE* terminal) : out_(terminal) {}
  void start(int64_t total) override;
  void update(int64_t done) override;
  void clear() override;
  void summary(int64_t strips, const std::string& image, int64_t file_bytes,
               const OddFrames& odd) override;

  // The bar for `done` of `total` at `rate` frames a second, `width` columns for the bar.
  static std::string bar(int64_t done, int64_t total, double rate, int width);

 private:
  using Clock = std::chrono::steady_clock;
  double seconds() const;
  std::FILE* out_;
  int64_t total_ = 0;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_draw_{};
  bool drawn_ = false;
};

}  // namespace scan
