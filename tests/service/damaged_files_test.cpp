// SPDX-License-Identifier: GPL-3.0-or-later
// Broken, foreign and missing files: a clear status, never a crash, hang or wrong length.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

#include "tools/clipwriter/avi_bytes.h"
#include "tools/clipwriter/broken_clips.h"
#include "tools/clipwriter/clip_writer.h"
#include "service/clip.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/written.h"

namespace {

using namespace clipwriter;
using velmora_test::scratch_path;
using service::MediaStatus;

// Broken files make FFmpeg talk; the statuses are what is checked here.
const bool quiet = [] {
  av_log_set_level(AV_LOG_QUIET);
  return true;
}();

constexpr int W = 48, H = 32;

std::string make_clip(const std::string& name, clipwriter::Codec codec, int frames) {
  std::string path = scratch_path(name);
  clipwriter::ClipSpec spec{W, H, frames, 25, 1, codec, 50, 2};
  EXPECT_TRUE(velmora_test::written(clipwriter::write_avi(path, spec, clipwriter::test_pattern)));
  return path;
}

// Every move on an open clip must keep the position in range and give a known status.
void exercise(service::Clip& clip) {
  int64_t length = clip.length();
  ASSERT_GT(length, 0);
  std::vector<uint32_t> pixels(W * H);
  service::PixelBuffer target{pixels.data(), W, H, W};
  for (int64_t frame = 0; frame < length; frame += 7) {
    MediaStatus status = clip.seek(frame);
    ASSERT_TRUE(status == MediaStatus::ok || status == MediaStatus::decode_failed);
    clip.render(target, {0, 0, W, H});
  }
  for (int i = 0; i < 2 * length + 2; ++i) clip.step_forward();
  EXPECT_EQ(clip.position(), length - 1);
  for (int i = 0; i < 12; ++i) clip.step_back();
  EXPECT_GE(clip.position(), 0);
  EXPECT_LT(clip.position(), length);
  clip.picture({0, 0, W, H});
}

TEST(OpenFailures, EachCauseHasItsOwnStatusAndNothingIsOpen) {
  auto open = [](const std::string& path) { return service::Clip::open(path); };
  EXPECT_EQ(open(scratch_path("absent.avi")).status, MediaStatus::no_such_file);
  EXPECT_EQ(open("").status, MediaStatus::no_such_file);

  write_bytes(scratch_path("empty.avi"), {});
  EXPECT_EQ(open(scratch_path("empty.avi")).status, MediaStatus::unreadable_file);

  std::string text = "これは動画ではありません。just text renamed to .avi\n";
  write_bytes(scratch_path("text.avi"), Bytes(text.begin(), text.end()));
  auto opened = open(scratch_path("text.avi"));
  EXPECT_EQ(opened.status, MediaStatus::not_playable);
  EXPECT_EQ(opened.clip, nullptr);
  EXPECT_FALSE(opened.detail.empty());

  std::filesystem::create_directories(scratch_path("folder.avi"));
  EXPECT_EQ(open(scratch_path("folder.avi")).status, MediaStatus::unreadable_file);
  // A pipe nobody writes to would block the open for ever; /dev/zero would never end.
  ASSERT_EQ(mkfifo(scratch_path("pipe.avi").c_str(), 0600), 0);
  EXPECT_EQ(open(scratch_path("pipe.avi")).status, MediaStatus::unreadable_file);
  EXPECT_EQ(open("/dev/zero").status, MediaStatus::unreadable_file);
}

TEST(OpenFailures, UnreadableFileIsToldApart) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads any file, so no unreadable file can be made";
  std::string path = make_clip("locked.avi", clipwriter::Codec::rgb, 3);
  std::filesystem::permissions(path, std::filesystem::perms::none);
  EXPECT_EQ(service::Clip::open(path).status, MediaStatus::unreadable_file);
}

TEST(OpenFailures, AudioOnlyFileIsNotPlayable) {
  const std::string path = scratch_path("audio.avi");
  ASSERT_TRUE(velmora_test::written(write_audio_only_avi(path)));
  auto opened = service::Clip::open(path);
  EXPECT_EQ(opened.status, MediaStatus::not_playable);
  EXPECT_EQ(opened.clip, nullptr);
}

TEST(BrokenClips, TruncatedRgbClipIsAsLongAsItsWholeFrames) {
  std::string path = make_clip("whole.avi", clipwriter::Codec::rgb, 20);
  Bytes whole = read_bytes(path);
  std::vector<long> chunks = video_chunks(whole);
  ASSERT_EQ(chunks.size(), 20u);
  long chunk_bytes = 8 + W * H * 3;
  for (long cut : {chunks[0] + 8 + 100, chunks[1], chunks[7] + chunk_bytes, chunks[12] + 9,
                   chunks[19] + chunk_bytes - 1, chunks[19] + chunk_bytes}) {
    Bytes part(whole.begin(), whole.begin() + cut);
    write_bytes(scratch_path("cut.avi"), part);
    auto opened = service::Clip::open(scratch_path("cut.avi"));
    int64_t complete = 0;
    while (complete < 20 && chunks[complete] + chunk_bytes <= cut) ++complete;
    if (complete == 0) {
      EXPECT_NE(opened.status, MediaStatus::ok) << "cut at " << cut;
      continue;
    }
    ASSERT_EQ(opened.status, MediaStatus::ok) << "cut at " << cut << ": " << opened.detail;
    EXPECT_EQ(opened.clip->length(), complete) << "cut at " << cut;
    ASSERT_EQ(opened.clip->seek(complete - 1), MediaStatus::ok);
    std::vector<uint32_t> pixels(W * H);
    opened.clip->render({pixels.data(), W, H, W}, {0, 0, W, H});
    EXPECT_EQ(pixels[5 * W + 9], 0xff000000u | clipwriter::test_pattern(complete - 1, 9, 5));
    exercise(*opened.clip);
  }
}

TEST(BrokenClips, TruncatedMpeg4ClipAtManyPointsNeverCrashes) {
  std::string path = make_clip("m4whole.avi", clipwriter::Codec::mpeg4, 120);
  Bytes whole = read_bytes(path);
  int opened_count = 0;
  for (double share : {0.01, 0.05, 0.2, 0.5, 0.77, 0.95, 0.999}) {
    Bytes part(whole.begin(), whole.begin() + static_cast<long>(whole.size() * share));
    write_bytes(scratch_path("m4cut.avi"), part);
    auto opened = service::Clip::open(scratch_path("m4cut.avi"));
    if (opened.status != MediaStatus::ok) {
      EXPECT_TRUE(opened.status == MediaStatus::not_playable ||
                  opened.status == MediaStatus::unreadable_file) << share;
      continue;
    }
    EXPECT_LE(opened.clip->length(), 120) << share;
    exercise(*opened.clip);
    ++opened_count;
  }
  EXPECT_GE(opened_count, 4);  // all but the cuts inside the header still play
}

TEST(BrokenClips, RandomBytesOverwrittenNeverCrash) {
  std::string path = make_clip("m4noise.avi", clipwriter::Codec::mpeg4, 120);
  Bytes whole = read_bytes(path);
  int opened_count = 0;
  for (unsigned seed = 1; seed <= 12; ++seed) {
    std::mt19937 random(seed);
    Bytes spoilt = whole;
    std::uniform_int_distribution<size_t> where(0, spoilt.size() - 1);
    int count = seed <= 6 ? 20 : 400;  // a few bytes, then many
    for (int i = 0; i < count; ++i) spoilt[where(random)] = static_cast<uint8_t>(random());
    write_bytes(scratch_path("noise.avi"), spoilt);
    auto opened = service::Clip::open(scratch_path("noise.avi"));
    if (opened.status == MediaStatus::ok) {
      exercise(*opened.clip);
      ++opened_count;
    } else {
      EXPECT_FALSE(opened.detail.empty());
    }
  }
  EXPECT_GE(opened_count, 6);  // a few damaged bytes leave most clips playable
}

TEST(BrokenClips, UnbelievablePictureSizeInTheHeaderIsRefused) {
  std::string path = make_clip("size.avi", clipwriter::Codec::rgb, 5);
  Bytes whole = read_bytes(path);
  long avih = find_tag(whole, "avih"), strf = find_tag(whole, "strf");
  ASSERT_GT(avih, 0);
  ASSERT_GT(strf, 0);
  for (uint32_t side : {60000u, 20000u, 9000u, 4000u}) {
    Bytes patched = whole;
    put_le32(patched, avih + 8 + 32, side);
    put_le32(patched, avih + 8 + 36, side);
    put_le32(patched, strf + 8 + 4, side);
    put_le32(patched, strf + 8 + 8, side);
    write_bytes(scratch_path("huge.avi"), patched);
    auto opened = service::Clip::open(scratch_path("huge.avi"));
    EXPECT_EQ(opened.status, MediaStatus::not_playable) << side;
    EXPECT_EQ(opened.clip, nullptr);
  }
}

TEST(BrokenClips, HeaderClaimingMoreFramesIsNotBelieved) {
  std::string path = make_clip("claims.avi", clipwriter::Codec::mpeg4, 60);
  Bytes patched = read_bytes(path);
  long avih = find_tag(patched, "avih"), strh = find_tag(patched, "strh");
  put_le32(patched, avih + 8 + 16, 5000);  // total frames
  put_le32(patched, strh + 8 + 32, 5000);  // stream length
  write_bytes(scratch_path("claims.avi"), patched);
  auto opened = service::Clip::open(scratch_path("claims.avi"));
  ASSERT_EQ(opened.status, MediaStatus::ok) << opened.detail;
  EXPECT_EQ(opened.clip->length(), 60);
  exercise(*opened.clip);
}

TEST(BrokenClips, IndexEntriesPastTheEndOfTheFileAreNotBelieved) {
  std::string path = make_clip("index.avi", clipwriter::Codec::rgb, 10);
  Bytes bytes = read_bytes(path);
  long idx1 = find_tag(bytes, "idx1");
  ASSERT_GT(idx1, 0);
  uint32_t size = get_le32(bytes, idx1 + 4);
  ASSERT_EQ(idx1 + 8 + static_cast<long>(size), static_cast<long>(bytes.size()));
  // Twenty more keyframe entries whose chunks would lie far beyond the end of the file.
  for (int i = 0; i < 20; ++i) {
    Bytes entry(16);
    std::copy_n("00db", 4, entry.begin());
    put_le32(entry, 4, 0x10);
    put_le32(entry, 8, 0x7000000 + i * W * H * 3);
    put_le32(entry, 12, W * H * 3);
    bytes.insert(bytes.end(), entry.begin(), entry.end());
  }
  put_le32(bytes, idx1 + 4, size + 20 * 16);
  put_le32(bytes, 4, get_le32(bytes, 4) + 20 * 16);
  long avih = find_tag(bytes, "avih");
  put_le32(bytes, avih + 8 + 16, 30);
  write_bytes(scratch_path("index.avi"), bytes);
  auto opened = service::Clip::open(scratch_path("index.avi"));
  ASSERT_EQ(opened.status, MediaStatus::ok) << opened.detail;
  EXPECT_EQ(opened.clip->length(), 10);
  exercise(*opened.clip);
}

}  // namespace

namespace {

// A picture the decoder cannot read leaves its slot showing the last good picture.
TEST(BrokenClips, UnreadablePictureMidClipShowsThePictureBeforeIt) {
  std::string path = make_clip("mjpeg.avi", clipwriter::Codec::mjpeg, 10);
  Bytes bytes = read_bytes(path);
  std::vector<long> chunks = video_chunks(bytes);
  ASSERT_EQ(chunks.size(), 10u);
  uint32_t size = get_le32(bytes, chunks[5] + 4);
  std::fill_n(bytes.begin() + chunks[5] + 8, size, uint8_t{0});
  write_bytes(scratch_path("hole.avi"), bytes);

  auto opened = service::Clip::open(scratch_path("hole.avi"));
  ASSERT_EQ(opened.status, MediaStatus::ok) << opened.detail;
  service::Clip& clip = *opened.clip;
  EXPECT_EQ(clip.length(), 10);
  // Red carries the frame number in the test pattern; JPEG keeps it within a few levels.
  auto red_shown = [&] {
    std::vector<uint32_t> pixels(W * H);
    EXPECT_EQ(clip.render({pixels.data(), W, H, W}, {0, 0, W, H}), MediaStatus::ok);
    return static_cast<int>((pixels[(H / 2) * W + W / 2] >> 16) & 0xff);
  };
  for (int64_t frame : {4, 5, 6, 5}) {
    ASSERT_EQ(clip.seek(frame), MediaStatus::ok);
    EXPECT_NEAR(red_shown(), frame == 5 ? 4 : frame, 2) << frame;
  }
  ASSERT_EQ(clip.seek(3), MediaStatus::ok);
  for (int64_t frame = 4; frame <= 7; ++frame) {
    ASSERT_EQ(clip.step_forward(), MediaStatus::ok);
    EXPECT_NEAR(red_shown(), frame == 5 ? 4 : frame, 2) << frame;
  }
}

}  // namespace
