// SPDX-License-Identifier: GPL-3.0-or-later
// Reading ahead on a thread changes nothing a run sees: each picture comes with the
// answers its source gave when handing it out, though the source has moved on since.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>

extern "C" {
#include <libavutil/frame.h>
}

#include "decode/ffmpeg_handles.h"
#include "scan/read_ahead.h"

namespace {

// Pictures of one grey level each, their frame's number; every third one a repeat that
// counts as damaged; then the end, cut short with a reason.
class Counting final : public scan::FrameSource {
 public:
  explicit Counting(int count) : count_(count) {}
  int width() const override { return 4; }
  int height() const override { return 2; }
  bool deep() const override { return false; }
  const decode::DisplayMatrix& display() const override { return display_; }
  const scan::ScanFrames& frames() const override { return frames_; }
  bool choose(scan::FrameChoice) override { return true; }
  const AVFrame* next(int64_t& frame) override {
    if (next_ == count_) {
      broke_off_ = true;
      return nullptr;
    }
    frame = next_++;
    stamp_ = {frame, frame / 25.0, {}, frame % 3 == 2};
    damaged_ += stamp_.repeat ? 1 : 0;
    picture_ = decode::new_frame();
    picture_->format = AV_PIX_FMT_GRAY8;
    picture_->width = 4;
    picture_->height = 2;
    if (av_frame_get_buffer(picture_.get(), 0) < 0) return nullptr;
    picture_->data[0][0] = static_cast<uint8_t>(frame);
    return picture_.get();
  }
  const scan::FrameStamp& stamp() const override { return stamp_; }
  bool broke_off() const override { return broke_off_; }
  int read_error() const override { return broke_off_ ? -5 : 0; }
  int64_t damaged() const override { return damaged_; }
  std::string failure() const override { return broke_off_ ? "cut short" : ""; }

 private:
  int count_;
  int next_ = 0;
  decode::DisplayMatrix display_;
  scan::ScanFrames frames_;
  decode::FramePtr picture_;
  scan::FrameStamp stamp_;
  bool broke_off_ = false;
  int64_t damaged_ = 0;
};

// What a run sees after each next(): the picture's frame and grey level, its stamp, the
// damage so far, and at the end why.
using Seen = std::tuple<int64_t, int, double, bool, int64_t, bool, int, std::string>;

std::vector<Seen> everything_seen(scan::FrameSource& source) {
  std::vector<Seen> seen;
  EXPECT_TRUE(source.choose({}));
  for (;;) {
    int64_t frame = -1;
    const AVFrame* picture = source.next(frame);
    // Slower than the source, so that it runs ahead.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    seen.emplace_back(picture ? frame : -1, picture ? picture->data[0][0] : -1,
                      source.stamp().seconds, source.stamp().repeat, source.damaged(),
                      source.broke_off(), source.read_error(), source.failure());
    if (picture == nullptr) break;
  }
  return seen;
}

TEST(ReadAhead, SeesWhatTheSourceItselfShows) {
  Counting direct(40);
  const std::vector<Seen> expected = everything_seen(direct);
  scan::ReadAhead ahead(std::make_unique<Counting>(40));
  EXPECT_EQ(everything_seen(ahead), expected);
  int64_t frame = 0;
  EXPECT_EQ(ahead.next(frame), nullptr) << "the end, asked again";
}

TEST(ReadAhead, StopsWhenLeftMidway) {
  for (const int taken : {0, 1, 5}) {
    auto ahead = std::make_unique<scan::ReadAhead>(std::make_unique<Counting>(1000));
    ASSERT_TRUE(ahead->choose({}));
    int64_t frame = 0;
    for (int k = 0; k < taken; ++k) ASSERT_NE(ahead->next(frame), nullptr);
    ahead.reset();  // must not wait for the source's end
  }
}

}  // namespace
