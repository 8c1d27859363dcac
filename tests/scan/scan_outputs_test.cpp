// SPDX-License-Identifier: GPL-3.0-or-later
// A stream that cannot be read (a terminal, nothing, a server that never answers) says why
// instead of waiting.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "scan/stream_reader.h"
#include "scan_support.h"

namespace {

namespace fs = std::filesystem;
using velmora_test::Ran;

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
