// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers for velmora-scan's tests: running the program, reading PNGs back with libpng,
// and the reference pictures a clip should give.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/scratch.h"

namespace velmora_test {

struct Ran {
  int status = -1;  // exit status, or 128 + signal
  std::string err;  // what it wrote to stderr
};

// Runs velmora-scan with `args` (stdin closed, stderr a pipe, so no progress bar).
Ran run_scan(const std::vector<std::string>& args);

// In a child process: becomes velmora-scan with `args`.
[[noreturn]] void exec_scan(const std::vector<std::string>& args);
// Starts velmora-scan; returns its pid and the fd of its stderr. `in_child` runs in the
// child just before it becomes velmora-scan (to set its limits).
int start_scan(const std::vector<std::string>& args, int& err_fd,
               const std::function<void()>& in_child = {});
// Reads `err_fd` to its end and waits for `pid`.
Ran finish_scan(int pid, int err_fd);
// Runs velmora-scan with `path` fed into a pipe on its standard input (no seeking, no
// index); `args` name the input "-".
Ran run_scan_on_pipe(const std::string& path, const std::vector<std::string>& args);
// Runs velmora-scan with files limited to `limit` bytes: a write past it fails with EFBIG,
// as one on a full disk fails with ENOSPC, through the same calls.
Ran run_scan_with_file_limit(const std::vector<std::string>& args, uint64_t limit);

// A PNG as libpng reads it: 8 or 16 bits a sample, rows of packed RGB, 16-bit samples
// big-endian as stored.
struct Png {
  int width = 0, height = 0, bit_depth = 0, channels = 0;
  std::vector<uint8_t> bytes;
  // Component c (0 red .. 2 blue) of pixel (x, y).
  int sample(int x, int y, int c) const;
};
Png read_png(const std::string& path);

// A TIFF as libtiff reads it, tile by tile, its pixels laid out as read_png lays them out;
// and how it is stored.
struct Tiff {
  Png image;
  bool bigtiff = false;
  uint32_t tile_width = 0, tile_height = 0;  // 0: not tiled
  uint16_t compression = 0, predictor = 0;
};
Tiff read_tiff(const std::string& path);

// Every picture of `path` in showing order, converted whole to packed RGB (RGB24, or
// big-endian RGB48 when `deep`) with velmora-scan's flags; the slots of an AVI.
struct Pictures {
  std::vector<std::vector<uint8_t>> rgb;
  std::vector<int64_t> slots;  // AVI chunk of each picture
  int width = 0, height = 0, pixel_bytes = 3;
};
Pictures decode_whole(const std::string& path, bool deep);

// The names in `folder`, sorted.
std::vector<std::string> names_in(const std::string& folder);

}  // namespace velmora_test
