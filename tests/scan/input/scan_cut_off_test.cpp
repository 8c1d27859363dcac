// SPDX-License-Identifier: GPL-3.0-or-later
// A stream that breaks off inside a picture (an AVI, whose demuxer sees the short read, and
// raw MJPEG, where only the missing end marker tells): the run ends with the strips read
// and says that the input broke off; a picture cut short that still decodes gives a strip
// noted damaged and counted in a warning, never passed over in silence.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "decode/media_input.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/written.h"
#include "tools/clipwriter/clip_writer.h"

namespace {

std::string last_line(const std::string& path) {
  std::ifstream in(path);
  std::string line, last;
  while (std::getline(in, line)) last = line;
  return last;
}

// Where the video packet `k` of `path` ends in the file.
int64_t packet_end(const std::string& path, int k) {
  decode::Opening<decode::MediaInput> input = decode::open_media(path);
  EXPECT_TRUE(input);
  decode::PacketPtr packet = decode::new_packet();
  for (int seen = 0; input && av_read_frame(input->format.get(), packet.get()) >= 0;) {
    const int64_t end = packet->pos + packet->size;
    const bool ours = packet->stream_index == input->stream;
    av_packet_unref(packet.get());
    if (ours && seen++ == k) return end;
  }
  return -1;
}

TEST(ScanCutOff, AStreamCutOffInsideAPictureSaysSo) {
  const std::string folder = velmora_test::fresh_folder("scan-cut-off");
  const std::string whole = folder + "/whole.avi";
  ASSERT_TRUE(velmora_test::written(clipwriter::write_avi(
      whole, {.width = 64, .height = 48, .frames = 10, .codec = clipwriter::Codec::mjpeg},
      clipwriter::test_pattern)));
  const int64_t end = packet_end(whole, 5);
  ASSERT_GT(end, 200);
  // The same pictures one after the other, as a camera sends them: no container to say
  // that the last one came in part.
  const std::string raw = folder + "/whole.mjpeg";
  const std::string command =
      "ffmpeg -nostdin -v error -y -i '" + whole + "' -c copy -f mjpeg '" + raw + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const int64_t raw_end = static_cast<int64_t>(std::filesystem::file_size(raw));
  const struct {
    bool avi;            // else the raw MJPEG, read with --format mjpeg
    int64_t bytes_lost;  // of the last picture the stream holds (5 of the AVI, 9 raw)
    const char* threads;
    std::string outcome;
  } cases[] = {
      // Its last bytes lost: it decodes, and its strip is the last one.
      {true, 6, "1", "strip 5 damaged, warned, broke off"},
      {true, 6, "3", "strip 5 damaged, warned, broke off"},
      // Too much of it lost to decode: the image ends with picture 4.
      {true, 200, "1", "strip 4 , broke off"},
      {false, 6, "1", "strip 9 damaged, warned, broke off"},
      {false, 6, "3", "strip 9 damaged, warned, broke off"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.avi ? "AVI, " : "MJPEG, ") << c.bytes_lost
                                    << " bytes lost, " << c.threads << " threads");
    const std::string cut = folder + "/cut";
    std::filesystem::copy_file(c.avi ? whole : raw, cut,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(cut, static_cast<uintmax_t>((c.avi ? end : raw_end) - c.bytes_lost));
    const std::string timeline = folder + "/strips.csv";
    std::vector<std::string> args = {"-f", "--threads", c.threads, "--timeline", timeline};
    if (!c.avi) args.insert(args.end(), {"--format", "mjpeg"});
    args.insert(args.end(), {"-", folder + "/out.png"});
    const velmora_test::Ran ran = velmora_test::run_scan_on_pipe(cut, args);
    ASSERT_EQ(ran.status, 0) << ran.err;
    const std::string last = last_line(timeline);
    const std::string outcome =
        "strip " + last.substr(0, last.find(',')) + " " + last.substr(last.rfind(',') + 1) +
        (ran.err.find("warning: 1 strip(s) from damaged") != std::string::npos ? ", warned" : "") +
        (ran.err.find("warning: the input broke off") != std::string::npos ? ", broke off" : "");
    EXPECT_EQ(outcome, c.outcome) << ran.err;
  }
}

}  // namespace
