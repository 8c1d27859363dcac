// SPDX-License-Identifier: GPL-3.0-or-later
// What a run leaves and when: several images land all together or not at all, a flushed
// image of a clip never takes OUTPUT's name early, and a stream that cannot be read (a
// terminal, nothing, a server that never answers) says why instead of waiting.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <fstream>

#include "scan/input/stream_reader.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/written.h"
#include "tools/clipwriter/clip_writer.h"

namespace {

namespace fs = std::filesystem;
using velmora_test::Ran;

const std::string& clip() {
  static const std::string path = [] {
    const std::string p = velmora_test::fresh_folder("outputs-clip") + "/clip.mkv";
    const clipwriter::ClipSpec spec{.width = 32, .height = 24, .frames = 12, .fps_num = 25,
                                    .codec = clipwriter::Codec::mjpeg, .container = "matroska"};
    EXPECT_TRUE(velmora_test::written(clipwriter::write_clip(p, spec, clipwriter::test_pattern)));
    return p;
  }();
  return path;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// m2.png appears while the run reads its stream: m1.png must not stay behind. A rerun with
// --skip-existing then makes only the image that is missing.
TEST(ScanOutputs, SeveralImagesLandAllOrNone) {
  const std::string folder = velmora_test::fresh_folder("outputs-several");
  const std::string pattern = folder + "/m%d.png";
  int feed[2];
  ASSERT_EQ(pipe(feed), 0);
  int err_fd = -1;
  const int pid = velmora_test::start_scan({"--slit", "5", "--slit", "20", "-", pattern}, err_fd,
                                           [&] {
                                             dup2(feed[0], STDIN_FILENO);
                                             close(feed[1]);
                                           });
  close(feed[0]);
  const std::string stream = slurp(clip());
  ASSERT_EQ(write(feed[1], stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
  std::ofstream(folder + "/m2.png") << "another program's";
  close(feed[1]);
  const struct {
    std::function<Ran()> run;
    int status;
    std::string said;
    std::vector<std::string> names;
  } cases[] = {
      {[&] { return velmora_test::finish_scan(pid, err_fd); }, 1, "m2.png: already exists",
       {"m2.png"}},
      {[&] {
         return velmora_test::run_scan(
             {"--skip-existing", "--slit", "5", "--slit", "20", clip(), pattern});
       },
       0, "m2.png: exists; skipped", {"m1.png", "m2.png"}},
  };
  for (const auto& c : cases) {
    const Ran ran = c.run();
    EXPECT_EQ(ran.status, c.status) << ran.err;
    EXPECT_NE(ran.err.find(c.said), std::string::npos) << ran.err;
    EXPECT_EQ(velmora_test::names_in(folder), c.names) << ran.err;
  }
  EXPECT_EQ(slurp(folder + "/m2.png"), "another program's");
  EXPECT_EQ(velmora_test::read_png(folder + "/m1.png").width, 12);
}

// With --flush a clip's image so far has a name of its own, gone once OUTPUT is written.
TEST(ScanOutputs, AClipsFlushedImageIsGoneWhenDone) {
  const std::string folder = velmora_test::fresh_folder("outputs-flush");
  const Ran ran = velmora_test::run_scan({"--flush", "5", clip(), folder + "/out.png"});
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(velmora_test::names_in(folder), std::vector<std::string>{"out.png"});
}

// Standard input that holds no stream: a terminal nobody pipes into, or nothing at all.
TEST(ScanOutputs, StandardInputWithoutAStreamIsTold) {
  const struct {
    std::function<void()> in_child;
    int status;
    std::string message;
  } cases[] = {
      {[] {
         alarm(20);  // a run that waits for the terminal ends, failing the test
         const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
         if (grantpt(terminal) == 0 && unlockpt(terminal) == 0)
           dup2(open(ptsname(terminal), O_RDWR | O_NOCTTY), STDIN_FILENO);
       },
       2, "velmora-scan: -: standard input is a terminal"},
      {[] {}, 1, "velmora-scan: -: standard input was empty\n"},
  };
  for (const auto& c : cases) {
    const std::string folder = velmora_test::fresh_folder("outputs-stdin");
    int err_fd = -1;
    const int pid = velmora_test::start_scan({"-", folder + "/out.png"}, err_fd, c.in_child);
    const Ran ran = velmora_test::finish_scan(pid, err_fd);
    EXPECT_EQ(ran.status, c.status) << ran.err;
    EXPECT_EQ(ran.err.rfind(c.message, 0), 0u) << ran.err;
    EXPECT_EQ(velmora_test::names_in(folder), std::vector<std::string>{});
  }
}

// A URL gets a read time-out unless one is given; standard input waits as long as it must.
TEST(ScanOutputs, UrlsGetAReadTimeOut) {
  const auto timeout = [](const std::string& input, scan::InputOptions given) {
    for (const auto& [key, value] : scan::stream_open_options({input, "", given, 1}))
      if (key == "rw_timeout") return std::stoll(value);
    return -1LL;
  };
  EXPECT_GT(timeout("http://127.0.0.1:9/clip.mkv", {}), 0);
  EXPECT_EQ(timeout("http://127.0.0.1:9/clip.mkv", {{"rw_timeout", "250"}}), 250);
  EXPECT_EQ(timeout("-", {}), -1);

  // A socket on the loopback that takes the connection (the kernel does) and never answers.
  const int server = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(listen(server, 4), 0);
  ASSERT_EQ(getsockname(server, reinterpret_cast<sockaddr*>(&address), &size), 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x";
  const std::string folder = velmora_test::fresh_folder("outputs-mute");
  const auto start = std::chrono::steady_clock::now();
  int err_fd = -1;
  const int pid =
      velmora_test::start_scan({"--input-option", "rw_timeout=300000", url, folder + "/out.png"},
                               err_fd, [] { alarm(20); });
  const Ran ran = velmora_test::finish_scan(pid, err_fd);
  close(server);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(ran.err.rfind("velmora-scan: " + url + ": no answer within 0.3 s", 0), 0u) << ran.err;
  EXPECT_EQ(velmora_test::names_in(folder), std::vector<std::string>{});
}

}  // namespace
