// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan on streams whose length is not known: standard input, a pipe fed while the
// run goes on, an HTTP stream. The image grows as strips come and the first signal ends it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/scan/run/scan_support.h"
#include "tests/support/written.h"
#include "tools/clipwriter/clip_writer.h"

namespace {

namespace fs = std::filesystem;
using velmora_test::Png;
using velmora_test::Ran;

// Pictures large enough that half the stream is several times FFmpeg's read buffer (see
// the signal test).
const clipwriter::ClipSpec spec{.width = 640, .height = 480, .frames = 20, .fps_num = 25,
                                .codec = clipwriter::Codec::mjpeg, .container = "matroska"};

// Written once for this test process.
std::string clip_path() {
  const std::string path = velmora_test::scratch_path("stream.mkv");
  if (!fs::exists(path)) {
    EXPECT_TRUE(
        velmora_test::written(clipwriter::write_clip(path, spec, clipwriter::test_pattern)));
  }
  return path;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The clip's MJPEG pictures one after the other, as a camera sends them.
std::string raw_mjpeg() {
  const std::string path = velmora_test::scratch_path("stream.mjpeg");
  if (!fs::exists(path)) {
    const std::string command = "ffmpeg -nostdin -v error -y -i '" + clip_path() +
                                "' -c copy -f mjpeg '" + path + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }
  return path;
}

Png from_file(const std::vector<std::string>& extra) {
  const std::string out = velmora_test::fresh_folder("stream-file") + "/out.png";
  std::vector<std::string> args = extra;
  args.insert(args.end(), {clip_path(), out});
  const Ran ran = velmora_test::run_scan(args);
  EXPECT_EQ(ran.status, 0) << ran.err;
  return velmora_test::read_png(out);
}

TEST(ScanStream, StandardInputGivesTheFilesImage) {
  for (const std::string& input : {clip_path(), raw_mjpeg()}) {
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{},
          {"--cut", "horizontal", "--every", "3", "--from", "2"},
          {"--line", "10%,10%,90%,90%", "--thickness", "3", "--reduce", "mean", "--threads", "1"}}) {
      const std::string out = velmora_test::fresh_folder("stream-stdin") + "/out.png";
      std::vector<std::string> args = extra;
      args.insert(args.end(), {"-", out});
      int err_fd = -1;
      const int pid = velmora_test::start_scan(args, err_fd, [&] {
        const int fd = open(input.c_str(), O_RDONLY);
        dup2(fd, STDIN_FILENO);
      });
      const Ran ran = velmora_test::finish_scan(pid, err_fd);
      ASSERT_EQ(ran.status, 0) << input << ": " << ran.err;
      const Png want = from_file(extra);
      const Png got = velmora_test::read_png(out);
      EXPECT_EQ(got.width, want.width) << input;
      EXPECT_EQ(got.height, want.height) << input;
      EXPECT_TRUE(got.bytes == want.bytes) << input;
    }
  }
}

// Width of the PNG at `path` once one can be read there, else 0.
int png_width(const std::string& path) {
  if (!fs::exists(path)) return 0;
  try {
    return velmora_test::read_png(path).width;
  } catch (const std::exception&) {
    return -1;  // --flush renames whole files into place: a broken one is a fault
  }
}

// Half the stream goes into a pipe that stays open, as a camera's would; then signals.
TEST(ScanStream, ASignalFinishesTheImageASecondAbandonsIt) {
  const std::string stream = slurp(raw_mjpeg());
  const Png whole = from_file({});
  struct Case {
    std::vector<int> signals;
    bool flush;
    int status;
  } cases[] = {
      {{SIGINT}, true, 0},
      {{SIGTERM}, false, 0},
      {{SIGINT, SIGTERM}, false, 128 + SIGTERM},
  };
  for (const Case& c : cases) {
    const std::string folder = velmora_test::fresh_folder("stream-signal");
    const std::string out = folder + "/out.png";
    int feed[2];
    ASSERT_EQ(pipe(feed), 0);
    // Named, as FFmpeg would otherwise wait for a megabyte to guess a raw MJPEG stream.
    std::vector<std::string> args = {"--threads", "1", "--format", "mjpeg", "-", out};
    if (c.flush) args.insert(args.begin(), {"--flush", "1"});
    int err_fd = -1;
    const int pid = velmora_test::start_scan(args, err_fd, [&] {
      dup2(feed[0], STDIN_FILENO);
      close(feed[1]);
    });
    close(feed[0]);
    ASSERT_EQ(write(feed[1], stream.data(), stream.size() / 2),
              static_cast<ssize_t>(stream.size() / 2));
    // Once the pipe is empty the run is reading the stream, past setting up its signals,
    // however slowly a loaded machine started it; and, with one thread reading a packet
    // only when the strip before is laid, past its first strips: half the stream (some
    // 100 KiB) is three times FFmpeg's read buffer.
    int waiting = 1;
    for (int tries = 0; tries < 1000 && waiting > 0; ++tries) {
      ASSERT_EQ(ioctl(feed[1], FIONREAD, &waiting), 0);
      if (waiting > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(waiting, 0) << "the run did not read the stream";
    int flushed = 0;
    if (c.flush) {
      // The strips come out as the pictures come in, and every flush is a whole PNG.
      for (int tries = 0; tries < 200 && flushed < whole.width / 3; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        flushed = png_width(out);
        ASSERT_GE(flushed, 0) << "a flushed PNG does not read";
      }
      EXPECT_GE(flushed, whole.width / 3);
    }
    // All signals arrive at once: the run cannot finish between them.
    kill(pid, SIGSTOP);
    for (int signal : c.signals) kill(pid, signal);
    kill(pid, SIGCONT);
    const Ran ran = velmora_test::finish_scan(pid, err_fd);
    close(feed[1]);
    // Two signals pending at once are handled in an order the kernel picks: the status is
    // that of whichever came second.
    if (c.signals.size() == 2)
      EXPECT_TRUE(ran.status == 128 + SIGINT || ran.status == 128 + SIGTERM) << ran.status;
    else
      EXPECT_EQ(ran.status, c.status) << ran.err;
    if (c.status != 0) {
      EXPECT_EQ(velmora_test::names_in(folder).size(), 0u) << ran.err;
      continue;
    }
    EXPECT_NE(ran.err.find("stopped by"), std::string::npos) << ran.err;
    const Png got = velmora_test::read_png(out);
    // The strips read so far: the file's first columns, no more than half the clip.
    EXPECT_GE(got.width, std::max(flushed, 1));
    EXPECT_LE(got.width, whole.width / 2 + 1);
    ASSERT_EQ(got.height, whole.height);
    for (int y = 0; y < got.height; ++y)
      for (int x = 0; x < got.width; ++x)
        for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(got.sample(x, y, ch), whole.sample(x, y, ch));
  }
}

// FFmpeg's command-line tool serves the clip once over HTTP on the loopback.
TEST(ScanStream, AnHttpStreamGivesTheFilesImage) {
  const int port = 20000 + getpid() % 20000;
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/clip.mkv";
  const pid_t server = fork();
  ASSERT_GE(server, 0);
  if (server == 0) {
    const std::string clip = clip_path();
    execlp("ffmpeg", "ffmpeg", "-nostdin", "-v", "quiet", "-i", clip.c_str(), "-c", "copy",
           "-listen", "1", "-f", "matroska", url.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const std::string out = velmora_test::fresh_folder("stream-http") + "/out.png";
  Ran ran;
  // The server listens once it has read the clip's header; until then the run is refused.
  for (int tries = 0; tries < 50; ++tries) {
    ran = velmora_test::run_scan({url, out});
    if (ran.status == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  ASSERT_EQ(ran.status, 0) << ran.err;
  EXPECT_TRUE(velmora_test::read_png(out).bytes == from_file({}).bytes);
}

// libavdevice and the libraries it brings are loaded for a device, never for a file: the
// dynamic loader names each library it loads (LD_DEBUG).
TEST(ScanStream, DevicesAreLoadedOnlyForADevice) {
  struct Case {
    const char* what;
    std::vector<std::string> input;
    bool loads_devices;
    int height;
  } cases[] = {
      {"a clip file", {clip_path()}, false, spec.height},
      {"FFmpeg's test picture, a device", {"--format", "lavfi", "testsrc=s=32x24:r=10:d=1"}, true,
       24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string out = velmora_test::fresh_folder("stream-devices") + "/out.png";
    std::vector<std::string> args = c.input;
    args.push_back(out);
    setenv("LD_DEBUG", "files", 1);
    const Ran ran = velmora_test::run_scan(args);
    unsetenv("LD_DEBUG");
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.err.find("file=libavdevice.so") != std::string::npos, c.loads_devices);
    EXPECT_EQ(velmora_test::read_png(out).height, c.height);
  }
}

}  // namespace
