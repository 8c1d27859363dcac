// SPDX-License-Identifier: GPL-3.0-or-later
// Inputs the clip-file fuzzer found, minimized, in the test data folder's clip-fuzz/: each
// test says what went wrong and checks what holds now.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "service/clip.h"

namespace {

using service::MediaStatus;

std::string finding(const char* name) {
  return std::string(VELMORA_TESTDATA) + "/clip-fuzz/" + name;
}

// CPU time of this process, which the machine's other load does not stretch.
double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Every frame by seeking, then back to the start by steps, rendering each: what a user
// does to a clip in the window.
void walk(service::Clip& clip) {
  clip.set_output_size(13, 9);
  std::vector<uint32_t> pixels(13 * 9);
  const service::PixelBuffer target{pixels.data(), 13, 9, 13};
  for (int64_t frame = 0; frame < clip.length(); ++frame) {
    ASSERT_EQ(clip.seek(frame), MediaStatus::ok) << "frame " << frame;
    ASSERT_EQ(clip.render(target, {0, 0, 13, 9}), MediaStatus::ok) << "frame " << frame;
  }
  while (clip.position() > 0) {
    ASSERT_EQ(clip.step_back(), MediaStatus::ok) << "back from " << clip.position();
    ASSERT_EQ(clip.render(target, {0, 0, 13, 9}), MediaStatus::ok) << "at " << clip.position();
  }
}

// A 32x24 clip whose in-band header claims 8191x8191 pictures: opening and every step
// decoded a 67-megapixel picture (7 CPU seconds for this walk, far more under the
// sanitizers). A picture that much larger than the clip is refused like a damaged packet.
TEST(ClipFuzzFindings, PictureClaimingThousandsOfTimesTheClipsSizeIsNotDecoded) {
  const double start = cpu_seconds();
  auto opened = service::Clip::open(finding("mpeg4-header-claims-8191x8191.avi"));
  ASSERT_EQ(opened.status, MediaStatus::ok) << opened.detail;
  EXPECT_EQ(opened.clip->width(), 32);
  EXPECT_EQ(opened.clip->height(), 24);
  walk(*opened.clip);
  EXPECT_LT(cpu_seconds() - start, 0.5);
}

// The same clip again: once the oversized pictures are refused, its only decodable
// picture lies past frame 0, and it stands in for the frames before it. Rendering those
// from the pool of kept pictures failed, since the pool only held the picture's own frame.
TEST(ClipFuzzFindings, FramesBeforeTheFirstDecodablePictureShowThatPicture) {
  auto opened = service::Clip::open(finding("mpeg4-header-claims-8191x8191.avi"));
  ASSERT_EQ(opened.status, MediaStatus::ok) << opened.detail;
  service::Clip& clip = *opened.clip;
  clip.set_output_size(13, 9);
  auto shown = [&clip] {
    std::vector<uint32_t> pixels(13 * 9);
    EXPECT_EQ(clip.render({pixels.data(), 13, 9, 13}, {0, 0, 13, 9}), MediaStatus::ok)
        << "at " << clip.position();
    return pixels;
  };
  const std::vector<uint32_t> first = shown();
  ASSERT_EQ(clip.seek(clip.length() - 1), MediaStatus::ok);
  EXPECT_EQ(shown(), first);
  ASSERT_EQ(clip.seek(0), MediaStatus::ok);
  EXPECT_EQ(shown(), first);
}

// A raw MPEG-4 stream whose one picture has no keyframe before it, found as the pool and
// fresh scaling disagreeing. Once the decoder had moved on, it never found the picture
// again: seeking before the first keyframe started at that keyframe, and decoding from the
// top used the flushed decoder, which gave no picture at all.
TEST(ClipFuzzFindings, PictureBeforeAnyKeyframeIsFoundAgainAfterMovingOn) {
  auto opened = service::Clip::open(finding("mpeg4-one-picture-before-any-keyframe.avi"));
  ASSERT_EQ(opened.status, MediaStatus::ok) << opened.detail;
  service::Clip& clip = *opened.clip;
  clip.set_output_size(13, 9);
  const int64_t last = clip.length() - 1;
  std::vector<uint32_t> first;
  for (int64_t frame : {last, int64_t{0}, last / 2, int64_t{0}, last, int64_t{1}}) {
    ASSERT_EQ(clip.seek(frame), MediaStatus::ok) << "seek " << frame;
    std::vector<uint32_t> pooled(13 * 9);
    ASSERT_EQ(clip.render({pooled.data(), 13, 9, 13}, {0, 0, 13, 9}), MediaStatus::ok)
        << "frame " << frame;
    EXPECT_NE(clip.picture({0, 0, 7, 5}), nullptr) << "frame " << frame << ", scaled afresh";
    // The one picture stands in for every frame.
    if (first.empty()) first = pooled;
    EXPECT_EQ(pooled, first) << "frame " << frame;
  }
}

// A raw MPEG-4 stream whose frames 0 and 1 decode when read from the top, but not after a
// seek to its one keyframe (the demuxer lands elsewhere, the flushed decoder gives
// nothing): once the decoder had moved to the end, frame 0 could no longer be scaled
// afresh, while the pool still held it. Where a keyframe gives no picture, decoding now
// starts from the top with a fresh decoder, as at opening.
TEST(ClipFuzzFindings, FramesDecodedAtOpeningDecodeAgainWhenTheirKeyframeGivesNone) {
  auto opened = service::Clip::open(finding("mpeg4-seek-to-keyframe-gives-no-picture.avi"));
  ASSERT_EQ(opened.status, MediaStatus::ok) << opened.detail;
  service::Clip& clip = *opened.clip;
  clip.set_output_size(13, 9);
  const auto at_opening = clip.picture({0, 0, 7, 5});
  ASSERT_NE(at_opening, nullptr);
  ASSERT_EQ(clip.seek(clip.length() - 1), MediaStatus::ok);
  while (clip.position() > 0) ASSERT_EQ(clip.step_back(), MediaStatus::ok);
  const auto again = clip.picture({0, 0, 7, 5});  // scaled afresh: decoded again
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->pixels, at_opening->pixels);
}

}  // namespace
