// SPDX-License-Identifier: GPL-3.0-or-later
// The real clips of the test data folder, as they came.
#include <gtest/gtest.h>

#include "service/clip.h"
#include "tests/support/reference_decoder.h"

namespace {

std::string real(const std::string& name) { return std::string(VELMORA_TESTDATA) + "/avi/" + name; }

std::unique_ptr<service::Clip> open_real(const std::string& name) {
  auto opened = service::Clip::open(real(name));
  EXPECT_EQ(opened.status, service::MediaStatus::ok) << name << ": " << opened.detail;
  return std::move(opened.clip);
}

std::vector<uint32_t> shown(service::Clip& clip) {
  std::vector<uint32_t> pixels(clip.width() * clip.height());
  EXPECT_EQ(clip.render({pixels.data(), clip.width(), clip.height(), clip.width()},
                        {0, 0, clip.width(), clip.height()}),
            service::MediaStatus::ok);
  return pixels;
}

TEST(RealClips, LengthsSizesAndRates) {
  struct Expect { const char* name; int64_t length; int w, h; double fps; };
  for (auto e : {Expect{"dillo.avi", 71, 80, 48, 96}, Expect{"filecopy.avi", 17, 260, 40, 10},
                 Expect{"MFC2.AVI", 40, 40, 40, 15}, Expect{"100_0306.AVI", 41, 320, 240, 15},
                 Expect{"MVI_4823.AVI", 78, 640, 480, 30.0003}}) {  // 33333 us a frame
    auto clip = open_real(e.name);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->length(), e.length) << e.name;
    EXPECT_EQ(clip->width(), e.w) << e.name;
    EXPECT_EQ(clip->height(), e.h) << e.name;
    EXPECT_NEAR(clip->frames_per_second(), e.fps, 0.01) << e.name;
    EXPECT_EQ(clip->position(), 0) << e.name;
  }
}

TEST(RealClips, DilloRepeatsEachPictureUntilTheNext) {
  auto ref = velmora_test::decode_all(real("dillo.avi"), 80, 48);
  ASSERT_EQ(ref.slots, (std::vector<int64_t>{0, 10, 20, 30, 40, 50, 60, 70}));
  auto clip = open_real("dillo.avi");
  ASSERT_TRUE(clip);
  for (int64_t slot = 1; slot < 71; ++slot) {
    ASSERT_EQ(clip->step_forward(), service::MediaStatus::ok);
    ASSERT_EQ(clip->position(), slot);
    ASSERT_EQ(shown(*clip), ref.pictures[slot / 10]) << "slot " << slot;
  }
  for (int64_t slot : {69, 15, 9, 10, 0, 70, 44}) {
    ASSERT_EQ(clip->seek(slot), service::MediaStatus::ok);
    EXPECT_EQ(shown(*clip), ref.pictures[slot / 10]) << "seek " << slot;
  }
  for (int64_t slot = 43; slot >= 0; --slot) {
    ASSERT_EQ(clip->step_back(), service::MediaStatus::ok);
    ASSERT_EQ(shown(*clip), ref.pictures[slot / 10]) << "back to " << slot;
  }
}

TEST(RealClips, Bgr24LogoArrivesPixelForPixel) {
  // Compared with the stored bytes unpacked by hand: no scaler involved on that side.
  auto ref = velmora_test::decode_all(real("MFC2.AVI"), 40, 40, true);
  ASSERT_EQ(ref.pictures.size(), 40u);
  auto clip = open_real("MFC2.AVI");
  ASSERT_TRUE(clip);
  for (int64_t frame : {0, 39, 17, 16, 1}) {
    ASSERT_EQ(clip->seek(frame), service::MediaStatus::ok);
    EXPECT_EQ(shown(*clip), ref.pictures[frame]) << frame;
  }
}

TEST(RealClips, PalettedAndMjpegClipsStepAndSeekLikeSequentialDecoding) {
  for (const char* name : {"filecopy.avi", "100_0306.AVI", "MVI_4823.AVI"}) {
    auto clip = open_real(name);
    ASSERT_TRUE(clip);
    auto ref = velmora_test::decode_all(real(name), clip->width(), clip->height());
    ASSERT_EQ(static_cast<int64_t>(ref.pictures.size()), clip->length()) << name;
    int64_t last = clip->length() - 1;
    ASSERT_EQ(clip->seek(last), service::MediaStatus::ok);
    EXPECT_EQ(shown(*clip), ref.pictures[last]) << name;
    EXPECT_EQ(clip->step_forward(), service::MediaStatus::ok);
    EXPECT_EQ(clip->position(), last);
    for (int64_t frame = last - 1; frame >= last - 5; --frame) {
      ASSERT_EQ(clip->step_back(), service::MediaStatus::ok);
      EXPECT_EQ(shown(*clip), ref.pictures[frame]) << name << " " << frame;
    }
    ASSERT_EQ(clip->seek(3), service::MediaStatus::ok);
    EXPECT_EQ(shown(*clip), ref.pictures[3]) << name;
    ASSERT_EQ(clip->step_forward(), service::MediaStatus::ok);
    EXPECT_EQ(shown(*clip), ref.pictures[4]) << name;
  }
}

}  // namespace
