// SPDX-License-Identifier: GPL-3.0-or-later
// The clip reading under velmora-scan: how frames are counted, and that pictures no
// chosen frame needs are not decoded, with frame threads too, while the pictures handed
// out stay the right ones.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>

#include "decode/media_input.h"
#include "scan/input/clip_reader.h"
#include "scan/slit/slit_scaler.h"
#include "tools/clipwriter/clip_writer.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/written.h"

namespace {

using clipwriter::ClipSpec;
using clipwriter::Codec;

std::unique_ptr<scan::ClipReader> open(const std::string& path, int threads) {
  decode::Opening<std::unique_ptr<scan::ClipReader>> opened = scan::ClipReader::open(path, threads);
  EXPECT_TRUE(opened) << opened.error().detail;
  return opened ? std::move(*opened) : nullptr;
}

// The whole picture, converted as the reference converts it.
std::vector<uint8_t> converted(const AVFrame* frame) {
  scan::SlitScaler scaler(3);
  const scan::RgbView view = *scaler.convert(frame, {0, 0, frame->width, frame->height});
  std::vector<uint8_t> rgb;
  for (int y = 0; y < view.height; ++y)
    rgb.insert(rgb.end(), view.bytes + y * view.stride,
               view.bytes + y * view.stride + view.width * 3);
  return rgb;
}

// Hands out every chosen frame; checks each against the reference; returns how many.
int check_frames(scan::ClipReader& clip, const velmora_test::Pictures& pictures,
                 scan::FrameChoice choice) {
  EXPECT_TRUE(clip.choose(choice));
  int handed = 0;
  int64_t frame = -1;
  while (const AVFrame* picture = clip.next(frame)) {
    EXPECT_EQ(frame, choice.from + handed * choice.every);
    EXPECT_TRUE(converted(picture) == pictures.rgb.at(frame)) << "frame " << frame;
    ++handed;
  }
  return handed;
}

TEST(ScanClip, IntraOnlyClipsDecodeOnlyTheChosenFrames) {
  const std::string path = velmora_test::fresh_folder("intra") + "/mjpeg.avi";
  ASSERT_TRUE(velmora_test::written(
      clipwriter::write_avi(path, {.width = 64, .height = 48, .frames = 100, .codec = Codec::mjpeg},
                            clipwriter::test_pattern)));
  const velmora_test::Pictures pictures = velmora_test::decode_whole(path, false);
  auto clip = open(path, 2);
  ASSERT_TRUE(clip);
  EXPECT_TRUE(clip->frames().avi_slots);
  EXPECT_EQ(clip->frames().count, 100);
  EXPECT_EQ(check_frames(*clip, pictures, {5, 100, 10}), 10);
  // The first picture, decoded when opening, and the ten chosen ones; the packets between
  // them never reached the decoder, and none after the last chosen frame is even read.
  EXPECT_LE(clip->decoded_pictures(), 11);
  EXPECT_GE(clip->dropped_packets(), 81);
}

TEST(ScanClip, LongGopClipsSkipPicturesNothingRefersTo) {
  // Two B-frames between references, none of which x264 may leave out.
  const std::string path = velmora_test::fresh_folder("long-gop") + "/h264.mp4";
  ClipSpec spec{.width = 96,
                .height = 64,
                .frames = 120,
                .fps_num = 30,
                .codec = Codec::h264,
                .gop = 60,
                .b_frames = 2,
                .container = "mp4"};
  ASSERT_TRUE(velmora_test::written(clipwriter::write_clip(path, spec, clipwriter::test_pattern)));
  const velmora_test::Pictures pictures = velmora_test::decode_whole(path, false);
  for (int threads : {1, 2, 3}) {
    SCOPED_TRACE(threads);
    auto clip = open(path, threads);
    ASSERT_TRUE(clip);
    EXPECT_FALSE(clip->frames().variable_rate);
    EXPECT_EQ(clip->frames().count, 120);
    EXPECT_EQ(check_frames(*clip, pictures, {1, 120, 4}), 30);
    // Of every four frames one is chosen; of the three others, the B-frames are skipped.
    EXPECT_LT(clip->decoded_pictures(), 100);
  }
}

TEST(ScanClip, CountsFramesBySlotsOrByPictures) {
  const std::string folder = velmora_test::fresh_folder("counting");
  ClipSpec steady{.width = 32,
                  .height = 32,
                  .frames = 20,
                  .fps_num = 25,
                  .codec = Codec::ffv1,
                  .container = "matroska"};
  ASSERT_TRUE(velmora_test::written(
      clipwriter::write_clip(folder + "/steady.mkv", steady, clipwriter::test_pattern)));
  ClipSpec uneven = steady;
  uneven.ticks_per_second = 1000;
  // 40 ms apart, then 100 ms: no one rate fits.
  for (int i = 0; i < uneven.frames; ++i)
    uneven.ticks.push_back(i < 10 ? i * 40 : 400 + (i - 10) * 100);
  ASSERT_TRUE(velmora_test::written(
      clipwriter::write_clip(folder + "/uneven.mkv", uneven, clipwriter::test_pattern)));
  uneven.container = "mp4";  // which takes no FFV1
  uneven.codec = Codec::mpeg4;
  ASSERT_TRUE(velmora_test::written(
      clipwriter::write_clip(folder + "/uneven.mp4", uneven, clipwriter::test_pattern)));

  auto clip = open(folder + "/steady.mkv", 1);
  ASSERT_TRUE(clip);
  EXPECT_FALSE(clip->frames().variable_rate);
  EXPECT_EQ(clip->frames().count, 20);
  EXPECT_EQ(clip->frames().frame_at_seconds(0.5), 13);  // 12.5 frames in: the 13th starts after
  for (const char* name : {"/uneven.mkv", "/uneven.mp4"}) {
    clip = open(folder + name, 1);
    ASSERT_TRUE(clip);
    EXPECT_TRUE(clip->frames().variable_rate) << name;
    EXPECT_EQ(clip->frames().count, 20) << name;
    // Picture 10 shows at 400 ms, picture 11 at 500 ms.
    EXPECT_EQ(clip->frames().frame_at_seconds(0.41), 11) << name;
  }
}

// Reads that could go on for minutes give up as soon as they are asked to (an interrupted
// run): the read-throughs of a Matroska clip when it is opened (its index lists too little),
// and the walk from one chosen frame to the next.
TEST(ScanClip, LongReadsStopWhenAsked) {
  const std::string path = velmora_test::fresh_folder("stop") + "/clip.mkv";
  constexpr int frames = 300;
  ASSERT_TRUE(velmora_test::written(
      clipwriter::write_clip(path,
                             {.width = 32,
                              .height = 32,
                              .frames = frames,
                              .fps_num = 25,
                              .codec = Codec::ffv1,
                              .container = "matroska"},
                             clipwriter::test_pattern)));
  bool asked = false;
  const decode::ShouldStop stop = [&asked] { return asked; };
  decode::Opening<decode::MediaInput> input = decode::open_media(path);
  ASSERT_TRUE(input);
  AVFormatContext* format = input->format.get();
  const int stream = input->stream;
  const decode::SlotClock clock = decode::SlotClock::of(format, format->streams[stream]);
  const decode::SlotTable table = decode::build_slot_table(format, stream, clock, false, path);
  ASSERT_EQ(table.length, frames);
  struct Case {
    const char* read;
    // How far into the clip it got once asked to stop, in frames.
    std::function<int64_t()> how_far;
  };
  const Case cases[] = {
      {"the slot table's read-through",
       [&] {
         asked = true;
         return decode::build_slot_table(format, stream, clock, false, path, stop).length;
       }},
      {"the frame count's read-through",
       [&] {
         asked = true;
         // A table that did not read the file through: the count reads it itself.
         return scan::count_scan_frames(format, stream, decode::SlotTable{}, false, path, stop)
             .count;
       }},
      {"the walk between chosen frames",
       [&] {
         decode::Opening<std::unique_ptr<scan::ClipReader>> opened =
             scan::ClipReader::open(path, 1, stop);
         if (!opened || !(*opened)->choose({0, frames, frames - 1})) return int64_t{-1};
         asked = true;
         int64_t frame = 0;
         while ((*opened)->next(frame) != nullptr) {
         }
         return frame;
       }},
  };
  for (const Case& c : cases) {
    asked = false;
    const int64_t reached = c.how_far();
    EXPECT_GE(reached, 0) << c.read;
    EXPECT_LT(reached, frames / 10) << c.read;
  }
  asked = true;
  decode::Opening<std::unique_ptr<scan::ClipReader>> stopped = scan::ClipReader::open(path, 1, stop);
  EXPECT_TRUE(!stopped && stopped.error().problem == decode::OpenProblem::stopped);
}

// Bytes this process has read so far, whatever from (the kernel's count).
int64_t bytes_read() {
  std::ifstream io("/proc/self/io");
  std::string key;
  int64_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return -1;
}

// A container whose index lists too little (Matroska) is read through once when opened,
// for both the slot table and the pictures' stamps, not once for each.
TEST(ScanClip, OpeningReadsAClipWithoutAFullIndexOnce) {
  const std::string path = velmora_test::fresh_folder("once") + "/clip.mkv";
  ASSERT_TRUE(velmora_test::written(
      clipwriter::write_clip(path,
                             {.width = 320,
                              .height = 240,
                              .frames = 60,
                              .codec = Codec::ffv1,
                              .container = "matroska"},
                             clipwriter::test_pattern)));
  const auto size = static_cast<int64_t>(std::filesystem::file_size(path));
  const int64_t before = bytes_read();
  ASSERT_TRUE(open(path, 1));
  EXPECT_LT(bytes_read() - before, size * 3 / 2) << "a clip of " << size << " bytes";
}

// Every packet's stream, stamps, size and flags, read through from an opening.
std::vector<std::array<int64_t, 5>> packets_of(decode::Opening<decode::MediaInput> input) {
  std::vector<std::array<int64_t, 5>> packets;
  EXPECT_TRUE(input);
  if (!input) return packets;
  decode::PacketPtr packet = decode::new_packet();
  while (av_read_frame(input->format.get(), packet.get()) >= 0) {
    packets.push_back({packet->stream_index, packet->pts, packet->dts, packet->size,
                       packet->flags});
    av_packet_unref(packet.get());
  }
  return packets;
}

// The read-through that leaves out probing the streams sees the packets a probed opening
// sees, stamps of reordered pictures included.
TEST(ScanClip, ReadingPacketsThroughNeedsNoProbing) {
  const std::string folder = velmora_test::fresh_folder("packets");
  for (const char* container : {"mp4", "mov", "matroska"}) {
    SCOPED_TRACE(container);
    const std::string path = folder + "/clip." + container;
    ASSERT_TRUE(velmora_test::written(
        clipwriter::write_clip(path,
                               {.width = 64,
                                .height = 48,
                                .frames = 40,
                                .codec = Codec::h264,
                                .gop = 12,
                                .b_frames = 2,
                                .container = container},
                               clipwriter::test_pattern)));
    decode::Opening<decode::MediaInput> probed = decode::open_media(path);
    ASSERT_TRUE(probed);
    const int stream = probed->stream;
    const auto expected = packets_of(std::move(probed));
    ASSERT_EQ(expected.size(), 40u);
    EXPECT_EQ(packets_of(decode::open_for_packets(path, stream)), expected);
  }
}

}  // namespace

namespace {

// A slot takes at least the codec's smallest packet: uncompressed frames of one or two
// pixels fill under eight bytes each in NUT, and still every frame is there.
TEST(ScanClip, ClipsOfTinyFramesAreNotTakenForDamagedTiming) {
  const struct {
    int width, frames;
  } cases[] = {{1, 2000}, {2, 1500}};
  for (const auto& c : cases) {
    const std::string path = velmora_test::fresh_folder("tiny") + "/tiny.nut";
    const ClipSpec spec{.width = c.width, .height = 1, .frames = c.frames, .fps_num = 25,
                        .codec = Codec::rgb, .container = "nut"};
    ASSERT_TRUE(
        velmora_test::written(clipwriter::write_clip(path, spec, clipwriter::test_pattern)));
    std::unique_ptr<scan::ClipReader> clip = open(path, 1);
    ASSERT_TRUE(clip) << c.width;
    EXPECT_EQ(clip->frames().count, c.frames) << c.width;
  }
}

}  // namespace
