// SPDX-License-Identifier: GPL-3.0-or-later
// Reading ahead on a thread changes nothing a run sees: each picture comes with the
// answers its source gave when handing it out, though the source has moved on since.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <tuple>

extern "C" {
#include <libavutil/frame.h>
}

#include "decode/ffmpeg_handles.h"
#include "scan/input/read_ahead.h"

namespace {

// Pictures of one grey level each, their frame's number; every third one a repeat that
// counts as damaged; then the end, cut short with a reason.
class Counting final : public scan::FrameSource {
 public:
  // `handed`, when given, counts the calls of next(), read from other threads.
  explicit Counting(int count, std::shared_ptr<std::atomic<int>> handed = nullptr)
      : count_(count), handed_(handed ? std::move(handed) : std::make_shared<std::atomic<int>>(0)) {}
  int width() const override { return 4; }
  int height() const override { return 2; }
  bool deep() const override { return false; }
  const decode::DisplayMatrix& display() const override { return display_; }
  const scan::ScanFrames& frames() const override { return frames_; }
  bool choose(scan::FrameChoice) override { return true; }
  const AVFrame* next(int64_t& frame) override {
    ++*handed_;
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
  std::optional<std::string> failure() const override {
    if (broke_off_) return "cut short";
    return std::nullopt;
  }

 private:
  int count_;
  std::shared_ptr<std::atomic<int>> handed_;
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

// Everything seen, and how many times the source had been asked for more than the run had
// taken when it looked (with `handed` given: it waits, boundedly, for that to happen,
// so the answers checked are ones the source has moved past).
std::pair<std::vector<Seen>, int> everything_seen(scan::FrameSource& source,
                                                  const std::atomic<int>* handed = nullptr) {
  std::vector<Seen> seen;
  int behind = 0;
  EXPECT_TRUE(source.choose({}));
  for (;;) {
    int64_t frame = -1;
    const AVFrame* picture = source.next(frame);
    if (handed != nullptr && picture != nullptr) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (*handed <= frame + 1 && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
      behind += *handed > frame + 1;
    }
    seen.emplace_back(picture ? frame : -1, picture ? picture->data[0][0] : -1,
                      source.stamp().seconds, source.stamp().repeat, source.damaged(),
                      source.broke_off(), source.read_error(), source.failure().value_or(""));
    if (picture == nullptr) break;
  }
  return {seen, behind};
}

TEST(ReadAhead, SeesWhatTheSourceItselfShows) {
  constexpr int count = 40;
  Counting direct(count);
  const std::vector<Seen> expected = everything_seen(direct).first;
  auto handed = std::make_shared<std::atomic<int>>(0);
  scan::ReadAhead ahead(std::make_unique<Counting>(count, handed));
  const auto [seen, behind] = everything_seen(ahead, handed.get());
  EXPECT_EQ(seen, expected);
  // Every picture was taken while the source stood further on.
  EXPECT_EQ(behind, count);
  int64_t frame = 0;
  EXPECT_EQ(ahead.next(frame), nullptr) << "the end, asked again";
}

TEST(ReadAhead, StopsWhenLeftMidway) {
  for (const int taken : {0, 1, 5}) {
    auto handed = std::make_shared<std::atomic<int>>(0);
    auto ahead = std::make_unique<scan::ReadAhead>(std::make_unique<Counting>(100000, handed));
    ASSERT_TRUE(ahead->choose({}));
    int64_t frame = 0;
    for (int k = 0; k < taken; ++k) ASSERT_NE(ahead->next(frame), nullptr);
    ahead.reset();
    // Only a few pictures past those taken were fetched: it did not read on to the end.
    EXPECT_LE(*handed, taken + 4) << taken;
  }
}

}  // namespace
