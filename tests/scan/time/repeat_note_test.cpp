// SPDX-License-Identifier: GPL-3.0-or-later
// A clip with one damaged packet, scanned with --timeline: exactly the strips of the frames
// left without a picture of their own are noted as repeats, however far ahead the decoders
// read and whether or not the decoder calls the packet an error.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "decode/media_input.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/written.h"
#include "tools/clipwriter/clip_writer.h"

namespace {

using clipwriter::ClipSpec;
using clipwriter::Codec;

// The strips whose note (the last column of the CSV) is "repeat".
std::vector<int> repeated_strips(const std::string& csv) {
  std::ifstream in(csv);
  std::vector<int> strips;
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line))
    if (line.ends_with(",repeat")) strips.push_back(std::stoi(line));
  return strips;
}

// Overwrites video packet `k` (in file order) past its first bytes with a pattern no
// decoder takes; returns the frame it shows at, by its stamp.
int damage_packet(const std::string& path, int k, int fps) {
  decode::Opening<decode::MediaInput> input = decode::open_media(path);
  EXPECT_TRUE(input);
  if (!input) return -1;
  decode::PacketPtr packet = decode::new_packet();
  int64_t pos = -1, size = 0, pts = 0;
  for (int seen = 0; pos < 0 && av_read_frame(input->format.get(), packet.get()) >= 0;) {
    if (packet->stream_index == input->stream && seen++ == k)
      pos = packet->pos, size = packet->size, pts = packet->pts;
    av_packet_unref(packet.get());
  }
  const AVRational base = input->format->streams[input->stream]->time_base;
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(pos + 4);
  for (int64_t i = 4; i < size; ++i) file.put(static_cast<char>(i * 37 % 251));
  return static_cast<int>(std::lround(static_cast<double>(pts) * av_q2d(base) * fps));
}

TEST(RepeatNote, FallsOnTheDamagedFramesStripAtAnyThreads) {
  const std::string folder = velmora_test::fresh_folder("repeat-note");
  const ClipSpec small{.width = 32, .height = 24, .frames = 16, .fps_num = 25, .gop = 12};
  ClipSpec mjpeg = small, mpeg4 = small, h264 = small;
  mjpeg.codec = Codec::mjpeg;
  mpeg4.codec = Codec::mpeg4;  // its decoder skips the packet without a word
  h264.codec = Codec::h264, h264.b_frames = 2, h264.container = "matroska";  // reordered
  for (const ClipSpec& spec : {mjpeg, mpeg4, h264}) {
    const std::string clip = folder + (spec.container == "avi" ? "/clip.avi" : "/clip.mkv");
    ASSERT_TRUE(
        velmora_test::written(clipwriter::write_clip(clip, spec, clipwriter::test_pattern)));
    const int damaged = damage_packet(clip, 9, spec.fps_num);
    for (const char* threads : {"1", "3"}) {
      const std::string csv = folder + "/t.csv";
      const velmora_test::Ran ran = velmora_test::run_scan(
          {"--force", "--threads", threads, "--timeline", csv, clip, folder + "/o.png"});
      ASSERT_EQ(ran.status, 0) << ran.err;
      EXPECT_EQ(repeated_strips(csv), std::vector<int>{damaged})
          << static_cast<int>(spec.codec) << " at " << threads << " threads";
    }
  }
}

}  // namespace
