// SPDX-License-Identifier: GPL-3.0-or-later
// Every bad input gets its own one-line message naming the file or option, the right exit
// status, and leaves no file behind; an interrupted run leaves nothing either.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tools/clipwriter/avi_bytes.h"
#include "tools/clipwriter/broken_clips.h"
#include "tools/clipwriter/clip_writer.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/clips.h"
#include "tests/support/written.h"
#include "scan/displace/delays.h"
#include "scan/displace/displacer.h"
#include "scan/displace/scroller.h"
#include "scan/input/stream_reader.h"
#include "scan/output/output_file.h"
#include "scan/slit/slit_path.h"

namespace {

namespace fs = std::filesystem;
using clipwriter::ClipSpec;
using clipwriter::Codec;
using velmora_test::run_scan;

struct Inputs {
  std::string folder, good, text, audio_only, folder_input, empty, undecodable, mp3_cover,
      m4a_cover;
};

// An MJPEG clip whose every picture is zero bytes of the right length: it opens, but no
// picture decodes.
std::string undecodable_clip(const std::string& folder) {
  const std::string path = folder + "/undecodable.avi";
  ClipSpec spec{.width = 32, .height = 24, .frames = 6, .codec = Codec::mjpeg};
  EXPECT_TRUE(velmora_test::written(clipwriter::write_avi(path, spec, clipwriter::test_pattern)));
  clipwriter::Bytes bytes = clipwriter::read_bytes(path);
  for (long chunk : clipwriter::video_chunks(bytes)) {
    const uint32_t size = clipwriter::get_le32(bytes, chunk + 4);
    std::fill_n(bytes.begin() + chunk + 8, size, 0);
  }
  EXPECT_TRUE(clipwriter::write_bytes(path, bytes));
  return path;
}

// A second of sound with cover art (an attached picture), as music files carry it, made
// by FFmpeg's command-line tool with the `codecs` given.
std::string with_cover(const std::string& path, const std::string& codecs) {
  const std::string command =
      "ffmpeg -nostdin -v error -y -f lavfi -i sine=d=1 -f lavfi -i color=c=red:s=32x24:d=0.04 "
      "-map 0:a -map 1:v -disposition:v attached_pic " +
      codecs + " '" + path + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return path;
}

const Inputs& inputs() {
  static const Inputs made = [] {
    Inputs in;
    in.folder = velmora_test::fresh_folder("inputs");
    in.good = in.folder + "/good.avi";
    ClipSpec spec{.width = 32, .height = 24, .frames = 12, .fps_num = 12, .codec = Codec::rgb};
    EXPECT_TRUE(
        velmora_test::written(clipwriter::write_avi(in.good, spec, clipwriter::test_pattern)));
    in.text = in.folder + "/notes.avi";
    std::ofstream(in.text) << "these are notes, not a clip\n";
    in.empty = in.folder + "/empty.avi";
    std::ofstream(in.empty).flush();
    in.folder_input = in.folder + "/a-folder.avi";
    fs::create_directory(in.folder_input);
    in.audio_only = in.folder + "/audio.avi";
    EXPECT_TRUE(velmora_test::written(clipwriter::write_audio_only_avi(in.audio_only)));
    in.undecodable = undecodable_clip(in.folder);
    in.mp3_cover = with_cover(in.folder + "/song.mp3", "-c:a libmp3lame -c:v mjpeg");
    in.m4a_cover = with_cover(in.folder + "/song.m4a", "-c:a aac -c:v png");
    return in;
  }();
  return made;
}

struct Case {
  std::vector<std::string> args;  // OUTPUT stands as "OUT"
  int status;
  std::string message;  // the whole line
};

TEST(ScanErrors, EachBadInputHasItsMessageAndStatusAndLeavesNoFile) {
  const Inputs& in = inputs();
  const std::string out_folder = velmora_test::fresh_folder("bad-out");
  const std::string out = out_folder + "/streak.png";
  const std::string missing = in.folder + "/missing.avi";
  std::string beyond_path_max = out_folder;  // a folder whose name is longer than a path may be
  while (beyond_path_max.size() <= PATH_MAX) beyond_path_max += "/" + std::string(200, 'f');
  const std::string name_max = out_folder + "/" + std::string(252, 'n') + ".png";  // 256 bytes
  const Case cases[] = {
      {{missing, "OUT"}, 1, "velmora-scan: " + missing + ": no such file"},
      {{in.folder_input, "OUT"},
       1,
       "velmora-scan: " + in.folder_input +
           ": is a folder holding no image (jpg, jpeg, png, tif, tiff, webp, bmp)"},
      {{in.empty, "OUT"}, 1, "velmora-scan: " + in.empty + ": is empty"},
      {{in.folder + "/*.jpg", "OUT"},
       1,
       "velmora-scan: " + in.folder + "/*.jpg: no image (jpg, jpeg, png, tif, tiff, webp, bmp) found"},
      {{"--format", "no-such-demuxer", "-", "OUT"},
       2,
       "velmora-scan: --format no-such-demuxer: FFmpeg knows no such input format or device"},
      {{"--input-option", "probesize=32", in.good, "OUT"},
       2,
       "velmora-scan: --input-option probesize=32: " + in.good +
           " is a clip file, which takes no input option; with --format NAME it is read as a "
           "stream, whose demuxer takes them"},
      {{"--input-option", "framerate=5", in.folder_input, "OUT"},
       2,
       "velmora-scan: --input-option framerate=5: " + in.folder_input +
           " is an image sequence, which takes no input option; with --format NAME it is read "
           "as a stream, whose demuxer takes them"},
      {{in.text, "OUT"},
       1,
       "velmora-scan: " + in.text +
           ": not a video file that libavformat reads (Invalid data found when processing input)"},
      {{in.audio_only, "OUT"}, 1, "velmora-scan: " + in.audio_only + ": holds no video stream"},
      {{in.mp3_cover, "OUT"}, 1, "velmora-scan: " + in.mp3_cover + ": holds no video stream"},
      {{in.m4a_cover, "OUT"}, 1, "velmora-scan: " + in.m4a_cover + ": holds no video stream"},
      {{in.undecodable, "OUT"},
       1,
       "velmora-scan: " + in.undecodable + ": none of its frames decodes"},
      {{"--slit", "32", in.good, "OUT"},
       2,
       "velmora-scan: --slit 32: outside the frame (32 columns, 0 to 31)"},
      {{"--slit", "-1", in.good, "OUT"},
       2,
       "velmora-scan: --slit -1: outside the frame (32 columns, 0 to 31)"},
      {{"--slit", "99999999999999999999%", in.good, "OUT"},
       2,
       "velmora-scan: --slit 99999999999999999999%: outside the frame (32 columns, 0 to 31)"},
      {{"--slit", "5:9223372036854775807", in.good, "OUT"},
       2,
       "velmora-scan: --slit 5:9223372036854775807: the slit reaches past the frame (32 columns)"},
      {{"--slit", "100%:2", in.good, "OUT"},
       2,
       "velmora-scan: --slit 100%:2: the slit reaches past the frame (32 columns)"},
      {{"--cut", "horizontal", "--slit", "20:5", in.good, "OUT"},
       2,
       "velmora-scan: --slit 20:5: the slit reaches past the frame (24 rows)"},
      {{"--slit", "10:0", in.good, "OUT"},
       2,
       "velmora-scan: --slit 10:0: a slit of width 0 holds no pixel"},
      {{"--every", "0", in.good, "OUT"}, 2, "velmora-scan: --every 0: must be 1 or more"},
      {{"--every", "-3", in.good, "OUT"}, 2, "velmora-scan: --every -3: must be 1 or more"},
      {{"--from", "8", "--to", "8", in.good, "OUT"},
       2,
       "velmora-scan: --from 8: at or past --to 8 (frame 8 to frame 8)"},
      {{"--from", "0.5s", "--to", "5", in.good, "OUT"},
       2,
       "velmora-scan: --from 0.5s: at or past --to 5 (frame 6 to frame 5)"},
      {{"--to", "0", in.good, "OUT"},
       2,
       "velmora-scan: --to 0: at the start of the clip (frame 0); no frame lies before it"},
      {{"--to", "0s", in.good, "OUT"},
       2,
       "velmora-scan: --to 0s: at the start of the clip (frame 0); no frame lies before it"},
      {{"--from", "12", in.good, "OUT"},
       2,
       "velmora-scan: --from 12: past the end of the clip (12 frames)"},
      {{"--from", "3.5s", in.good, "OUT"},
       2,
       "velmora-scan: --from 3.5s: past the end of the clip (12 frames)"},
      {{"--frobnicate", in.good, "OUT"},
       2,
       "velmora-scan: --frobnicate: unknown option (see --help)"},
      {{"--every", "two", in.good, "OUT"}, 2, "velmora-scan: --every two: not a whole number"},
      {{in.good, out_folder + "/streak.gif"},
       2,
       "velmora-scan: " + out_folder +
           "/streak.gif: the output name must end in .png, .tif, .tiff, .dzi, .jpg, .jpeg or .webp"},
      {{in.good, out_folder + "/.tif"},
       2,
       "velmora-scan: " + out_folder + "/.tif: the output name must end in .png, .tif, .tiff, .dzi, .jpg, .jpeg or .webp"},
      {{"--compress", "lzw", in.good, "OUT"},
       2,
       "velmora-scan: --compress lzw: only a TIFF OUTPUT (.tif, .tiff) is compressed so"},
      {{"--pyramid", in.good, "OUT"},
       2,
       "velmora-scan: --pyramid: only for a TIFF OUTPUT (.tif, .tiff)"},
      {{"--pyramid", "--flush", "5", in.good, out_folder + "/streak.tif"},
       2,
       "velmora-scan: --pyramid: not with --flush"},
      {{"--tile-format", "png", in.good, "OUT"},
       2,
       "velmora-scan: --tile-format png: only for a Deep Zoom OUTPUT (.dzi)"},
      {{"--quality", "80", "--tile-format", "png", in.good, out_folder + "/streak.dzi"},
       2,
       "velmora-scan: --quality 80: only for a JPEG or WebP OUTPUT, or JPEG tiles of a Deep Zoom "
       "OUTPUT (.dzi)"},
      {{"--quality", "0", in.good, out_folder + "/streak.dzi"},
       2,
       "velmora-scan: --quality 0: must be a whole number from 1 to 100"},
      {{"--viewer", in.good, out_folder + "/streak.png"},
       2,
       "velmora-scan: --viewer: only for a Deep Zoom OUTPUT (.dzi)"},
      {{"--time-origin", "3", in.good, out_folder + "/streak.dzi"},
       2,
       "velmora-scan: --time-origin 3: only with --viewer"},
      {{"--viewer", "--time-origin", "3", in.good, out_folder + "/streak.dzi"},
       2,
       "velmora-scan: --time-origin 3: the page's times are the timeline's; give --timeline too"},
      {{"--viewer", "--timeline", out_folder + "/t.csv", "--time-origin", "18:00", in.good,
        out_folder + "/streak.dzi"},
       2,
       "velmora-scan: --time-origin 18:00: not a time such as 2026-12-07T18:00:00 or seconds "
       "such as 12.5"},
      {{"--viewer", "--timeline", out_folder + "/t.csv", "--time-origin", "2026-12-07T18:00:00",
        in.good, out_folder + "/streak.dzi"},
       2,
       "velmora-scan: --time-origin 2026-12-07T18:00:00: " + in.good +
           " has no clock; give the origin in seconds"},
      {{in.good, in.folder_input + ".dzi"}, 1,
       "velmora-scan: " + in.folder_input + "_files: already exists; use --force to overwrite it"},
      {{in.good, in.folder_input + ".tif"}, 1,
       "velmora-scan: " + in.folder_input + ".tif: is a folder"},
      {{in.good, out_folder + "/no/such/folder/x.png"},
       1,
       "velmora-scan: " + out_folder + "/no/such/folder/x.png: the folder " + out_folder +
           "/no/such/folder does not exist"},
      {{in.good, beyond_path_max + "/x.png"},
       1,
       "velmora-scan: " + beyond_path_max + "/x.png: cannot reach the folder " + beyond_path_max +
           " (" + std::strerror(ENAMETOOLONG) + ")"},
      {{in.good, in.text + "/sub/x.png"},
       1,
       "velmora-scan: " + in.text + "/sub/x.png: cannot reach the folder " + in.text +
           "/sub (" + std::strerror(ENOTDIR) + ")"},
      {{in.good, name_max},
       1,
       "velmora-scan: " + name_max + ": cannot be written (" + std::strerror(ENAMETOOLONG) + ")"},
      {{in.good, in.folder_input + ".png"}, 1,
       "velmora-scan: " + in.folder_input + ".png: is a folder"},
  };
  fs::create_directory(in.folder_input + ".png");  // an OUTPUT that is a folder
  fs::create_directory(in.folder_input + ".tif");
  fs::create_directory(in.folder_input + "_files");  // a Deep Zoom OUTPUT's tiles
  for (const Case& c : cases) {
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(a == "OUT" ? out : a);
    velmora_test::Ran ran = run_scan(args);
    const std::string& expected = c.message;
    EXPECT_EQ(ran.status, c.status) << expected;
    EXPECT_EQ(ran.err, expected + "\n");
    EXPECT_EQ(velmora_test::names_in(out_folder), std::vector<std::string>{}) << expected;
  }
}

TEST(ScanErrors, AnUnreadableClipIsNamed) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
  const std::string folder = velmora_test::fresh_folder("unreadable");
  const std::string clip = folder + "/locked.avi";
  fs::copy_file(inputs().good, clip);
  chmod(clip.c_str(), 0);
  velmora_test::Ran ran = run_scan({clip, folder + "/out.png"});
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(ran.err, "velmora-scan: " + clip + ": cannot be read (Permission denied)\n");
  EXPECT_EQ(velmora_test::names_in(folder), std::vector<std::string>{"locked.avi"});
}

TEST(ScanErrors, AnExistingOutputIsKeptWithoutForce) {
  const std::string folder = velmora_test::fresh_folder("exists");
  const std::string out = folder + "/streak.png";
  std::ofstream(out) << "keep me";
  velmora_test::Ran ran = run_scan({inputs().good, out});
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(ran.err, "velmora-scan: " + out + ": already exists; use --force to overwrite it\n");
  EXPECT_EQ(velmora_test::names_in(folder), std::vector<std::string>{"streak.png"});
  EXPECT_EQ(fs::file_size(out), 7u);
  ran = run_scan({"--force", inputs().good, out});
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(velmora_test::read_png(out).width, 12);
  EXPECT_EQ(velmora_test::names_in(folder), std::vector<std::string>{"streak.png"});
}

// A rerun of a list redoes only what is missing: an OUTPUT that exists ends the run at once
// (the clip is not even opened), done; one that is missing is made as usual.
TEST(ScanErrors, AnExistingOutputIsSkippedWhenAsked) {
  const std::string folder = velmora_test::fresh_folder("skip");
  const std::string out = folder + "/streak.tif";
  std::ofstream(out) << "an earlier run's";
  const std::string missing_clip = folder + "/gone.avi";
  struct Case {
    std::vector<std::string> options;
    std::string err;
  };
  for (const Case& c : {Case{{"--skip-existing"},
                             "velmora-scan: " + out + ": exists; skipped (--skip-existing)\n"},
                        Case{{"--skip-existing", "-q"}, ""}}) {
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {missing_clip, out});
    velmora_test::Ran ran = run_scan(args);
    EXPECT_EQ(ran.status, 0);
    EXPECT_EQ(ran.err, c.err);
    EXPECT_EQ(fs::file_size(out), 16u);
  }
  fs::remove(out);
  velmora_test::Ran ran = run_scan({"--skip-existing", inputs().good, out});
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(velmora_test::read_tiff(out).image.width, 12);
  // An OUTPUT that is a folder is no earlier image.
  fs::create_directory(folder + "/dir.tif");
  ran = run_scan({"--skip-existing", inputs().good, folder + "/dir.tif"});
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(ran.err, "velmora-scan: " + folder + "/dir.tif: is a folder\n");
}

// The temporary file beside OUTPUT fits wherever OUTPUT does: names up to the 255 bytes a
// name may have (ASCII, and two-byte UTF-8 characters), a path up to PATH_MAX.
TEST(ScanErrors, AnOutputNameAsLongAsNamesMayBeIsWritten) {
  std::string utf8;
  while (utf8.size() < 250) utf8 += "é";
  const std::string folder = velmora_test::fresh_folder("long-names");
  std::string deep = velmora_test::fresh_folder("long-path");
  while (deep.size() < PATH_MAX - 300) deep += "/" + std::string(200, 'd');
  fs::create_directories(deep);
  const struct {
    std::string folder, name;
  } cases[] = {
      {folder, std::string(243, 'a') + ".png"},
      {folder, std::string(244, 'b') + ".png"},
      {folder, std::string(251, 'c') + ".png"},
      {folder, utf8 + "e.png"},
      {deep, std::string(PATH_MAX - 1 - deep.size() - 1 - 4, 'p') + ".png"},
  };
  for (const auto& c : cases) {
    const std::string out = c.folder + "/" + c.name;
    SCOPED_TRACE(std::to_string(c.name.size()) + "-byte name, " + std::to_string(out.size()) +
                 "-byte path");
    velmora_test::Ran ran = run_scan({inputs().good, out});
    EXPECT_EQ(ran.status, 0);
    EXPECT_EQ(ran.err, "");
    EXPECT_EQ(velmora_test::names_in(c.folder), std::vector<std::string>{c.name});
    fs::remove(out);
  }
}

TEST(ScanErrors, AFolderThatCannotBeWrittenIsNamed) {
  // Root writes anywhere a mode allows nothing; /proc takes no new files from anyone.
  std::string folder = "/proc";
  if (geteuid() != 0) {
    folder = velmora_test::fresh_folder("read-only");
    chmod(folder.c_str(), 0555);
  }
  const std::string out = folder + "/streak.png";
  velmora_test::Ran ran = run_scan({inputs().good, out});
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(
      ran.err.rfind("velmora-scan: " + out + ": cannot write in the folder " + folder + " (", 0),
      0u)
      << ran.err;
  EXPECT_FALSE(fs::exists(out));
  if (folder != "/proc") chmod(folder.c_str(), 0755);
}

// An AVI `frames` slots long holding a picture every 50000 slots and at the end: the
// muxer fills the gaps with empty chunks (at most 60000 at a time), so the clip is small.
std::string sparse_clip(const std::string& folder, int width, int height, int64_t frames) {
  ClipSpec spec{.width = width,
                .height = height,
                .fps_num = 25,
                .codec = Codec::mjpeg,
                .ticks_per_second = 25};
  for (int64_t tick = 0; tick < frames - 1; tick += 50000) spec.ticks.push_back(tick);
  spec.ticks.push_back(frames - 1);
  spec.frames = static_cast<int>(spec.ticks.size());
  const std::string clip = folder + "/sparse-" + std::to_string(frames) + ".avi";
  EXPECT_TRUE(velmora_test::written(clipwriter::write_avi(clip, spec, clipwriter::test_pattern)));
  return clip;
}

TEST(ScanErrors, AnImageBeyondPngOrMemoryIsRefusedBeforeDecoding) {
  const std::string clips = velmora_test::fresh_folder("large-clips");
  const std::string folder = velmora_test::fresh_folder("large");
  const std::string out = folder + "/streak.png";
  // 270001 strips of 8192 columns: wider than PNG allows.
  const std::string wide = sparse_clip(clips, 8192, 2, 270001);
  velmora_test::Ran ran = run_scan({"--slit", "0:8192", wide, out});
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(ran.err, "velmora-scan: " + out +
                         ": the image would be 2211848192 x 2 pixels, more than PNG allows "
                         "(2147483647 a side); use --every or a shorter range, or a .tif OUTPUT, "
                         "which allows 4294967295 a side\n");
  EXPECT_EQ(velmora_test::names_in(folder), std::vector<std::string>{});
  // 4001 strips of 4096 x 2048 pixels: 100 GB, more than this machine has.
  const std::string big = sparse_clip(clips, 4096, 2048, 4001);
  ran = run_scan({"--slit", "0:4096", big, out});
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(
      ran.err.rfind("velmora-scan: " + out +
                        ": the image would be 16388096 x 2048 pixels (100.7 GB), more than the ",
                    0),
      0u)
      << ran.err;
  EXPECT_NE(ran.err.find(" of memory at hand; use --every or a shorter range, or a .tif "
                         "OUTPUT, which needs no such memory\n"),
            std::string::npos)
      << ran.err;
  EXPECT_EQ(velmora_test::names_in(folder), std::vector<std::string>{});
  // The same clip is fine with fewer strips.
  ran = run_scan({"--every", "2000", "--slit", "0:4", big, out});
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(velmora_test::read_png(out).width, 12);
}

TEST(ScanErrors, ADamagedClipGoesOnToTheEnd) {
  const std::string folder = velmora_test::fresh_folder("damaged");
  ClipSpec spec{.width = 64,
                .height = 48,
                .frames = 60,
                .fps_num = 25,
                .codec = Codec::mpeg4,
                .gop = 12,
                .b_frames = 2};
  const auto broken = clipwriter::write_broken_clips(folder, spec);
  ASSERT_TRUE(velmora_test::written(broken));
  int opened = 0;
  for (const auto& clip : *broken) {
    const std::string out = folder + "/out.png";
    velmora_test::Ran ran = run_scan({clip.path, out});
    ASSERT_TRUE(ran.status == 0 || ran.status == 1) << clip.path << ": " << ran.err;
    if (ran.status == 0) {
      ++opened;
      // Nothing, or the one warning that counts the strips of damaged pictures.
      EXPECT_TRUE(ran.err.empty() ||
                  (ran.err.rfind("velmora-scan: " + clip.path + ": warning: ", 0) == 0 &&
                   std::count(ran.err.begin(), ran.err.end(), '\n') == 1))
          << ran.err;
      EXPECT_GT(velmora_test::read_png(out).width, 0);
      fs::remove(out);
    } else {
      // One line naming the clip.
      EXPECT_EQ(ran.err.rfind("velmora-scan: " + clip.path + ": ", 0), 0u) << ran.err;
      EXPECT_EQ(std::count(ran.err.begin(), ran.err.end(), '\n'), 1) << ran.err;
    }
    EXPECT_FALSE(fs::exists(out));
  }
  EXPECT_GT(opened, 0);
}

TEST(ScanErrors, AWriteThatFailsLeavesNothing) {
  const std::string folder = velmora_test::fresh_folder("file-limit");
  const std::string clip = folder + "/wide.avi";
  ClipSpec spec{.width = 320, .height = 240, .frames = 12, .fps_num = 12, .codec = Codec::rgb};
  ASSERT_TRUE(velmora_test::written(clipwriter::write_avi(clip, spec, clipwriter::test_pattern)));
  fs::create_directory(folder + "/out");
  const struct {
    std::vector<std::string> args;
    std::vector<rlim_t> limits;  // each too small for the image
    rlim_t room;
  } cases[] = {
      // The PNG takes about 19 KB: cut off early (libpng's own write fails) and within its
      // last few bytes (the last flush fails).
      {{"--slit", "0:320", clip, folder + "/out/streak.png"}, {200, 19000}, 1 << 20},
      // 3840 x 240 pixels: 15 tiles of 196608 bytes. Cut off at the first tile, and after
      // the last tile, within the directory written at the end.
      {{"--compress", "none", "--slit", "0:320", clip, folder + "/out/streak.tif"},
       {200, 15 * 196608 + 8 + 64},
       4 << 20},
      // Its levels follow the image: cut off at the first level's tiles, copied at the end.
      {{"--pyramid", "--compress", "none", "--slit", "0:320", clip, folder + "/out/streak.tif"},
       {15 * 196608 + 1024},
       6 << 20},
      // Deep Zoom: a tile that cannot be written.
      {{"--tile-format", "png", "--slit", "0:320", clip, folder + "/out/streak.dzi"},
       {200},
       1 << 20},
  };
  for (const auto& c : cases) {
    const std::string& out = c.args.back();
    for (rlim_t limit : c.limits) {
      velmora_test::Ran ran = velmora_test::run_scan_with_file_limit(c.args, limit);
      EXPECT_EQ(ran.status, 1) << out << " " << limit;
      EXPECT_EQ(ran.err, "velmora-scan: " + out + ": cannot write (" + std::strerror(EFBIG) + ")\n")
          << limit;
      EXPECT_EQ(velmora_test::names_in(folder + "/out"), std::vector<std::string>{}) << limit;
    }
    // With room enough the same run writes the image.
    velmora_test::Ran ran = velmora_test::run_scan_with_file_limit(c.args, c.room);
    EXPECT_EQ(ran.status, 0) << ran.err;
    const bool tiff = out.ends_with(".tif");
    // A Deep Zoom's deepest level ends in a tile of 3840 - 15 * 254 + 1 columns.
    const bool dzi = out.ends_with(".dzi");
    EXPECT_EQ(dzi    ? velmora_test::read_png(folder + "/out/streak_files/12/15_0.png").width
              : tiff ? velmora_test::read_tiff(out).image.width
                     : velmora_test::read_png(out).width,
              dzi ? 31 : 12 * 320);
    fs::remove(out);
    fs::remove_all(folder + "/out/streak_files");
  }
}

// Waits until the run's temporary file appears in `folder`: decoding has begun.
bool temp_file_appears(const std::string& folder) {
  for (int i = 0; i < 2000; ++i) {
    if (!velmora_test::names_in(folder).empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

// Long enough to decode for a second or more with one thread; shared through the cache.
std::string long_clip() {
  return velmora_test::cached_clip({.width = 320, .height = 240, .frames = 1500, .fps_num = 25,
                                    .codec = Codec::mpeg4, .gop = 250, .b_frames = 2});
}

// Waits until a file in `folder` holds at least `bytes`.
bool file_grows_to(const std::string& folder, std::uintmax_t bytes) {
  for (int i = 0; i < 5000; ++i) {
    std::error_code gone;
    for (const auto& entry : fs::directory_iterator(folder, gone))
      if (entry.file_size(gone) >= bytes && !gone) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// Ctrl-C, kill, a closed terminal or a lost SSH session, and Ctrl-\ (quit) end the run;
// a signal ignored when the run starts (nohup) does not. Whole frames laid top to bottom
// are written out while the clip is decoded, and are removed all the same.
// A tiled TIFF is interrupted once its first tiles are in the file (a run writes some 23
// bands of them).
TEST(ScanErrors, InterruptedHalfWayLeavesNothing) {
  struct Case {
    int signal;
    bool ignored;
    std::vector<std::string> options = {};
    const char* output = "streak.png";
    bool flush = false;  // interrupted once the image so far is in place
  };
  const std::vector<std::string> tiles = {"--compress", "none", "--slit", "0:4", "--cut"};
  auto tiled = [&](const char* cut) {
    std::vector<std::string> options = tiles;
    options.push_back(cut);
    return options;
  };
  // A pyramid is interrupted with its levels' unnamed files open.
  auto pyramid = [&](const char* cut) {
    std::vector<std::string> options = tiled(cut);
    options.push_back("--pyramid");
    return options;
  };
  for (const Case& c : {Case{SIGINT, false}, Case{SIGTERM, false}, Case{SIGHUP, false},
                        Case{SIGQUIT, false}, Case{SIGHUP, true},
                        Case{SIGINT, false, {"--cut", "horizontal", "--slit", "0:240"}},
                        Case{SIGINT, false, tiled("vertical"), "streak.tif"},
                        Case{SIGINT, false, tiled("horizontal"), "streak.tif"},
                        Case{SIGINT, false, pyramid("vertical"), "streak.tif"},
                        Case{SIGINT, false, pyramid("horizontal"), "streak.tif"},
                        Case{SIGINT, false, {"--slit", "0:4"}, "streak.dzi"},
                        Case{SIGINT, false, {"--slit", "0:4", "--viewer"}, "streak.dzi"},
                        Case{SIGINT, false, {"--flush", "20"}, "streak.png", true}}) {
    SCOPED_TRACE(std::string(strsignal(c.signal)) + (c.ignored ? ", ignored " : " ") +
                 testing::PrintToString(c.options) + " " + c.output);
    const std::string folder = velmora_test::fresh_folder("interrupted");
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--threads", "1", long_clip(), folder + "/" + c.output});
    int err_fd = -1;
    int pid = velmora_test::start_scan(args, err_fd, [c] {
          if (c.ignored) signal(c.signal, SIG_IGN);
        });
    ASSERT_TRUE(temp_file_appears(folder));
    // A flushed image is a name that is not hidden, as a temporary file's is.
    for (int i = 0; c.flush && i < 2000; ++i) {
      const auto names = velmora_test::names_in(folder);
      if (std::any_of(names.begin(), names.end(), [](auto& n) { return n[0] != '.'; })) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (std::string(c.output).ends_with(".tif"))
      ASSERT_TRUE(file_grows_to(folder, 8 + 256 * 256 * 3)) << "a whole tile written";
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid, c.signal);
    velmora_test::Ran ran = velmora_test::finish_scan(pid, err_fd);
    EXPECT_EQ(ran.status, c.ignored ? 0 : 128 + c.signal);
    EXPECT_EQ(ran.err, c.ignored ? "" : "velmora-scan: interrupted; no image written\n");
    EXPECT_EQ(velmora_test::names_in(folder),
              c.ignored ? std::vector<std::string>{c.output} : std::vector<std::string>{});
  }
}

// The clip loses its second half while it is read (a file still being copied, a disk
// that fails): the run fails and leaves nothing, instead of repeating the last picture
// read for every frame after it.
TEST(ScanErrors, AClipThatBreaksOffWhileReadLeavesNothing) {
  const std::string folder = velmora_test::fresh_folder("breaks-off");
  const std::string clip = folder + "/clip.avi";
  fs::copy_file(long_clip(), clip);
  fs::create_directory(folder + "/out");
  int err_fd = -1;
  int pid = velmora_test::start_scan({"--threads", "1", clip, folder + "/out/streak.png"}, err_fd);
  ASSERT_TRUE(temp_file_appears(folder + "/out"));
  fs::resize_file(clip, fs::file_size(clip) / 2);
  velmora_test::Ran ran = velmora_test::finish_scan(pid, err_fd);
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(ran.err.rfind("velmora-scan: " + clip + ": the clip breaks off before frame ", 0), 0u)
      << ran.err;
  EXPECT_EQ(velmora_test::names_in(folder + "/out"), std::vector<std::string>{});
}

// The room that makes a failure says its status: a wrong request is usage, what the input
// or the system refuses is failed, whoever hands the failure on. A pixel format is the
// scroll's request to refuse but the displacer's input to fail on.
TEST(ScanErrors, EachRoomChoosesTheStatusOfItsFailure) {
  const auto status = [](const auto& outcome) {
    return outcome ? base::ExitStatus::done : outcome.error().status;
  };
  const struct {
    const char* what;
    base::ExitStatus got, status;
  } cases[] = {
      {"a slit past the frame", status(scan::slit_fits("--slit 700", 700, 1, 640, "columns")),
       base::ExitStatus::usage},
      {"a slit path of odd coordinates", status(scan::parse_line("1,2,3")), base::ExitStatus::usage},
      {"an unknown input format", status(scan::check_input_format("no-such-format")),
       base::ExitStatus::usage},
      {"an output in a missing folder", status(scan::check_output("/no-such-folder/out.png", false)),
       base::ExitStatus::failed},
      {"a delay map that cannot be read", status(displace::read_grey_png("/no-such-map.png")),
       base::ExitStatus::failed},
      {"a scroll of a bit-packed picture",
       status(displace::Scroller::make(AV_PIX_FMT_MONOWHITE, 64, 48, 0, 1)), base::ExitStatus::usage},
      {"a displacement of a bit-packed picture",
       status(displace::Displacer::make(displace::ramp_field({}, 64, 48), AV_PIX_FMT_MONOWHITE, 64, 48)),
       base::ExitStatus::failed},
  };
  for (const auto& c : cases) EXPECT_EQ(int(c.got), int(c.status)) << c.what;
}

}  // namespace
