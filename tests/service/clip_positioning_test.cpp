// SPDX-License-Identifier: GPL-3.0-or-later
// Frame-exact positioning on MPEG-4 clips with long groups and B-frames, compared with
// pictures decoded one after another from the top.
#include <gtest/gtest.h>

#include <random>

#include "tools/clipwriter/clip_writer.h"
#include "service/clip.h"
#include "service/ffmpeg_clip.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/written.h"

namespace {

using velmora_test::Reference;

constexpr int W = 96, H = 64, FRAMES = 560;

class Mpeg4Clip : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    path_ = velmora_test::scratch_path("gop250.avi");
    clipwriter::ClipSpec spec{W, H, FRAMES, 25, 1, clipwriter::Codec::mpeg4, 250, 2};
    ASSERT_TRUE(
        velmora_test::written(clipwriter::write_avi(path_, spec, clipwriter::test_pattern)));
    ref_ = new Reference(velmora_test::decode_all(path_, W, H));
  }
  static void TearDownTestSuite() { delete ref_; }

  void SetUp() override {
    auto opened = service::Clip::open(path_);
    ASSERT_EQ(opened.status, service::MediaStatus::ok) << opened.detail;
    clip_ = std::move(opened.clip);
  }

  std::vector<uint32_t> shown() {
    std::vector<uint32_t> pixels(W * H, 0);
    service::PixelBuffer buffer{pixels.data(), W, H, W};
    EXPECT_EQ(clip_->render(buffer, {0, 0, W, H}), service::MediaStatus::ok);
    return pixels;
  }
  // The i-th picture out of a decoder fed from the top is frame i.
  bool shows_frame(int64_t frame) { return shown() == ref_->pictures.at(frame); }

  static inline std::string path_;
  static inline Reference* ref_ = nullptr;
  std::unique_ptr<service::Clip> clip_;
};

TEST_F(Mpeg4Clip, ReferenceHasEveryFrameAndFramesDiffer) {
  ASSERT_EQ(ref_->pictures.size(), static_cast<size_t>(FRAMES));
  EXPECT_NE(ref_->pictures[250], ref_->pictures[251]);
  EXPECT_NE(ref_->pictures[0], ref_->pictures[1]);
}

TEST_F(Mpeg4Clip, OpensOnFrameZeroWithLengthFromTheFile) {
  EXPECT_EQ(clip_->length(), FRAMES);
  EXPECT_EQ(clip_->position(), 0);
  EXPECT_EQ(clip_->width(), W);
  EXPECT_EQ(clip_->height(), H);
  EXPECT_DOUBLE_EQ(clip_->frames_per_second(), 25.0);
  EXPECT_TRUE(shows_frame(0));
}

TEST_F(Mpeg4Clip, SeekShowsExactlyTheFrameAroundKeyframesAndBetween) {
  // 250..252 sit around the second keyframe, whose B-frames need the group before it.
  for (int64_t frame : {0, 1, 2, 3, 248, 249, 250, 251, 252, 253, 300, 499, 500, 501, 502,
                        503, 557, 558, 559, 7, 251}) {
    ASSERT_EQ(clip_->seek(frame), service::MediaStatus::ok) << frame;
    EXPECT_EQ(clip_->position(), frame);
    EXPECT_TRUE(shows_frame(frame)) << "seek to " << frame;
  }
}

TEST_F(Mpeg4Clip, RandomSeeksMatchSequentialDecoding) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int64_t> pick(0, FRAMES - 1);
  for (int i = 0; i < 40; ++i) {
    int64_t frame = pick(random);
    ASSERT_EQ(clip_->seek(frame), service::MediaStatus::ok);
    EXPECT_TRUE(shows_frame(frame)) << "seek to " << frame;
  }
}

TEST_F(Mpeg4Clip, StepsForwardThroughEveryFrameAndStaysAtTheEnd) {
  for (int64_t frame = 1; frame < FRAMES; ++frame) {
    ASSERT_EQ(clip_->step_forward(), service::MediaStatus::ok);
    ASSERT_EQ(clip_->position(), frame);
    ASSERT_TRUE(shows_frame(frame)) << frame;
  }
  EXPECT_EQ(clip_->step_forward(), service::MediaStatus::ok);
  EXPECT_EQ(clip_->position(), FRAMES - 1);
  EXPECT_TRUE(shows_frame(FRAMES - 1));
}

TEST_F(Mpeg4Clip, StepsBackThroughEveryFrameAndStaysAtTheStart) {
  ASSERT_EQ(clip_->seek(FRAMES - 1), service::MediaStatus::ok);
  for (int64_t frame = FRAMES - 2; frame >= 0; --frame) {
    ASSERT_EQ(clip_->step_back(), service::MediaStatus::ok);
    ASSERT_EQ(clip_->position(), frame);
    ASSERT_TRUE(shows_frame(frame)) << frame;
  }
  EXPECT_EQ(clip_->step_back(), service::MediaStatus::ok);
  EXPECT_EQ(clip_->position(), 0);
  EXPECT_TRUE(shows_frame(0));
}

TEST_F(Mpeg4Clip, BackAndForthAcrossAKeyframeAfterChangingOutputSize) {
  ASSERT_EQ(clip_->seek(253), service::MediaStatus::ok);
  for (int i = 0; i < 6; ++i) ASSERT_EQ(clip_->step_back(), service::MediaStatus::ok);
  EXPECT_EQ(clip_->position(), 247);
  EXPECT_TRUE(shows_frame(247));
  clip_->set_output_size(W / 2, H / 2);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(clip_->step_forward(), service::MediaStatus::ok);
  EXPECT_EQ(clip_->position(), 252);
  EXPECT_TRUE(shows_frame(252));  // a destination of another size is scaled afresh
  auto picture = clip_->picture({5, 6, W / 2, H / 2});
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->place, (service::Rect{5, 6, W / 2, H / 2}));
  EXPECT_EQ(picture->pixels,
            velmora_test::decode_all(path_, W / 2, H / 2).pictures.at(252));
}

// What moving costs, in decoded pictures: stepping decodes each picture once, and
// stepping back over pictures stepped through decodes none.
TEST_F(Mpeg4Clip, SteppingDecodesEachPictureOnceAndStepsBackFromMemory) {
  auto* clip = dynamic_cast<service::FfmpegClip*>(clip_.get());
  ASSERT_NE(clip, nullptr);
  clip->set_output_size(W, H);
  int64_t before = clip->decoded_pictures();
  for (int i = 0; i < 300; ++i) ASSERT_EQ(clip->step_forward(), service::MediaStatus::ok);
  EXPECT_LE(clip->decoded_pictures() - before, 302);  // across the keyframe at 250 too
  before = clip->decoded_pictures();
  for (int i = 0; i < 200; ++i) ASSERT_EQ(clip->step_back(), service::MediaStatus::ok);
  EXPECT_EQ(clip->decoded_pictures() - before, 0);
  EXPECT_TRUE(shows_frame(100));
  // From a cold seek, the first step back decodes the group up to there once, no more.
  ASSERT_EQ(clip->seek(520), service::MediaStatus::ok);
  before = clip->decoded_pictures();
  for (int i = 0; i < 15; ++i) ASSERT_EQ(clip->step_back(), service::MediaStatus::ok);
  EXPECT_LE(clip->decoded_pictures() - before, 520 - 500 + 3);
  EXPECT_TRUE(shows_frame(505));
}

TEST_F(Mpeg4Clip, SeekOutsideTheClipFailsAndNothingMoves) {
  ASSERT_EQ(clip_->seek(300), service::MediaStatus::ok);
  EXPECT_EQ(clip_->seek(FRAMES), service::MediaStatus::number_out_of_range);
  EXPECT_EQ(clip_->seek(-1), service::MediaStatus::number_out_of_range);
  EXPECT_EQ(clip_->seek(INT64_MAX), service::MediaStatus::number_out_of_range);
  EXPECT_EQ(clip_->position(), 300);
  EXPECT_TRUE(shows_frame(300));
}

TEST_F(Mpeg4Clip, PoolStaysWithinItsByteCapForLargeOutputSizes) {
  auto* clip = dynamic_cast<service::FfmpegClip*>(clip_.get());
  ASSERT_NE(clip, nullptr);
  clip->set_output_size(320, 240);
  EXPECT_GE(clip->pool_capacity(), 250u);  // a whole group fits at the pane's size
  clip->set_output_size(1280, 720);
  EXPECT_LE(clip->pool_capacity() * 1280 * 720 * 4, service::pool_byte_cap);
  EXPECT_GE(clip->pool_capacity(), 2u);
  ASSERT_EQ(clip->seek(400), service::MediaStatus::ok);
  for (int i = 0; i < 60; ++i) ASSERT_EQ(clip->step_back(), service::MediaStatus::ok);
  EXPECT_EQ(clip->position(), 340);
}

}  // namespace
