// SPDX-License-Identifier: GPL-3.0-or-later
// A stream is opened by the clips' opener: cover art is no video, and a picture size no
// decoder should be asked for is refused, in the words the same file gets as a clip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "tests/scan/run/scan_support.h"

namespace {

TEST(StreamOpening, CoverArtAndUnbelievableSizesAreRefusedAsInAClip) {
  const std::string folder = velmora_test::fresh_folder("stream-opening");
  const std::string cover = "-f lavfi -i color=c=red:s=32x24:d=0.04";
  const std::string sound = "-f lavfi -i sine=d=1 ";
  const std::string make = "ffmpeg -nostdin -v error -y ";
  ASSERT_EQ(std::system((make + cover + " -frames:v 1 " + folder + "/cover.png").c_str()), 0);
  const struct Row {
    std::string file, ffmpeg_arguments, format;  // no format: read through standard input
  } rows[] = {
      {"song.mp3", sound + cover + " -map 0 -map 1 -disposition:v attached_pic -c:v mjpeg", ""},
      {"song.mkv", sound + "-attach " + folder + "/cover.png -metadata:s:t mimetype=image/png",
       "matroska"},
      {"wide.nut", "-f lavfi -i color=s=16400x2:d=0.04 -c:v rawvideo", ""},
      {"wide.nut", "-f lavfi -i color=s=16400x2:d=0.04 -c:v rawvideo", "nut"},
      {"wide.mjpeg", "-f lavfi -i color=s=16400x2:d=0.04", "mjpeg"},  // no size before a picture
  };
  for (const Row& row : rows) {
    const std::string path = folder + "/" + row.file, out = folder + "/out.png";
    ASSERT_EQ(std::system((make + row.ffmpeg_arguments + " " + path).c_str()), 0) << path;
    const velmora_test::Ran clip = velmora_test::run_scan({"-f", path, out});
    const velmora_test::Ran stream = row.format.empty()
                                         ? velmora_test::run_scan_on_pipe(path, {"-f", "-", out})
                                         : velmora_test::run_scan({"-f", "--format", row.format, path, out});
    std::string words = clip.err;  // the clip's message, the input named as the stream is
    if (const size_t at = words.find(path); row.format.empty() && at != std::string::npos)
      words.replace(at, path.size(), "-");
    EXPECT_EQ(std::make_tuple(stream.status, stream.err), std::make_tuple(1, words)) << path;
  }
}

}  // namespace
