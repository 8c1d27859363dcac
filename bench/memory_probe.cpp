// SPDX-License-Identifier: GPL-3.0-or-later
#include "memory_probe.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "service/clip.h"

namespace bench {
namespace {

constexpr const char* probe_flag = "--memory-probe";

int probe(const char* path, int width, int height) {
  auto opened = service::Clip::open(path);
  if (!opened.clip) return 1;
  service::Clip& clip = *opened.clip;
  clip.set_output_size(width, height);
  if (clip.seek(clip.length() - 1) != service::MediaStatus::ok) return 1;
  while (clip.position() > 0)
    if (clip.step_back() != service::MediaStatus::ok) return 1;
  for (int i = 0; i < 300; ++i) clip.step_forward();
  return 0;
}

}  // namespace

bool run_probe_if_asked(int argc, char** argv) {
  if (argc != 5 || std::strcmp(argv[1], probe_flag) != 0) return false;
  std::exit(probe(argv[2], std::atoi(argv[3]), std::atoi(argv[4])));
}

double probe_peak_mb(const std::string& clip_path, int out_width, int out_height) {
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    // A fresh image of this program, so the peak is the probe's alone.
    std::string w = std::to_string(out_width), h = std::to_string(out_height);
    execl("/proc/self/exe", "bench_media", probe_flag, clip_path.c_str(), w.c_str(), h.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return usage.ru_maxrss / 1024.0;  // kilobytes on Linux
}

}  // namespace bench
