// SPDX-License-Identifier: GPL-3.0-or-later
// The progress bar on a terminal: frames done of frames to do, frames a second and time
// left, redrawn a few times a second; then a one-line summary. Silent when stderr is not
// a terminal or when asked to be quiet.
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

class Progress {
 public:
  Progress(std::FILE* terminal, bool shown, int64_t total);
  // `done` strips of the total are made.
  void update(int64_t done);
  // Wipes the bar (before an error message or the summary).
  void clear();
  void summary(int64_t strips, const std::string& image, int64_t file_bytes, const OddFrames& odd);
  double seconds() const;

  // The bar for `done` of `total` at `rate` frames a second, `width` columns for the bar.
  static std::string bar(int64_t done, int64_t total, double rate, int width);

 private:
  using Clock = std::chrono::steady_clock;
  std::FILE* out_;
  bool shown_;
  int64_t total_;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_draw_{};
  bool drawn_ = false;
};

}  // namespace scan
