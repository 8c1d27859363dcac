// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan_support.h"

#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "decode/ffmpeg_handles.h"
#include "decode/rgb_scaler.h"
#include "scan/slit_scaler.h"
#include "tests/support/reference_decoder.h"
#include "tests/support/clips.h"

namespace velmora_test {
namespace fs = std::filesystem;

void exec_scan(const std::vector<std::string>& args) {
  std::vector<std::string> copies{VELMORA_SCAN};
  copies.insert(copies.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

int start_scan(const std::vector<std::string>& args, int& err_fd,
               const std::function<void()>& in_child) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    dup2(pipe_fds[1], STDERR_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    if (in_child) in_child();
    exec_scan(args);
  }
  close(pipe_fds[1]);
  err_fd = pipe_fds[0];
  return pid;
}

Ran finish_scan(int pid, int err_fd) {
  Ran ran;
  char buffer[4096];
  ssize_t got;
  while ((got = read(err_fd, buffer, sizeof buffer)) > 0) ran.err.append(buffer, got);
  close(err_fd);
  int status = 0;
  waitpid(pid, &status, 0);
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return ran;
}

Ran run_scan(const std::vector<std::string>& args) {
  int err_fd = -1;
  int pid = start_scan(args, err_fd);
  return finish_scan(pid, err_fd);
}

int Png::sample(int x, int y, int c) const {
  const size_t bytes_per_sample = bit_depth / 8;
  const size_t at =
      (static_cast<size_t>(y) * width + x) * channels * bytes_per_sample + c * bytes_per_sample;
  return bytes_per_sample == 1 ? bytes[at] : bytes[at] << 8 | bytes[at + 1];
}

Png read_png(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) throw std::runtime_error("cannot open " + path);
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  Png out;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    throw std::runtime_error("libpng cannot read " + path);
  }
  png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
  png_init_io(png, file.get());
  png_read_info(png, info);
  out.width = static_cast<int>(png_get_image_width(png, info));
  out.height = static_cast<int>(png_get_image_height(png, info));
  out.bit_depth = png_get_bit_depth(png, info);
  out.channels = png_get_channels(png, info);
  const size_t row_bytes = png_get_rowbytes(png, info);
  out.bytes.resize(row_bytes * out.height);
  for (int y = 0; y < out.height; ++y) png_read_row(png, out.bytes.data() + row_bytes * y, nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return out;
}

Pictures decode_whole(const std::string& path, bool deep) {
  Pictures pictures;
  pictures.pixel_bytes = deep ? 6 : 3;
  velmora_test::for_each_picture(path, [&](const AVFrame& frame, const AVCodecContext& ctx) {
    pictures.width = frame.width;
    pictures.height = frame.height;
    const int64_t next = pictures.slots.empty() ? 0 : pictures.slots.back() + 1;
    pictures.slots.push_back(frame.pkt_dts == AV_NOPTS_VALUE ? next
                                                             : frame.pkt_dts - ctx.has_b_frames);
    // The whole picture at once, with the flags the slit's crop is converted with.
    decode::ScalerPtr sws(decode::make_rgb_scaler(&frame, frame.width, frame.height,
                                              deep ? AV_PIX_FMT_RGB48BE : AV_PIX_FMT_RGB24,
                                              scan::SlitScaler::flags));
    decode::FramePtr out = decode::new_frame();
    out->format = deep ? AV_PIX_FMT_RGB48BE : AV_PIX_FMT_RGB24;
    out->width = frame.width;
    out->height = frame.height;
    if (!sws || av_frame_get_buffer(out.get(), 0) < 0) throw std::runtime_error("no scaler");
    sws_scale(sws.get(), frame.data, frame.linesize, 0, frame.height, out->data, out->linesize);
    const size_t row = static_cast<size_t>(frame.width) * pictures.pixel_bytes;
    std::vector<uint8_t> rgb(row * frame.height);
    for (int y = 0; y < frame.height; ++y)
      std::copy_n(out->data[0] + static_cast<ptrdiff_t>(y) * out->linesize[0], row,
                  rgb.data() + row * y);
    pictures.rgb.push_back(std::move(rgb));
  });
  return pictures;
}

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace velmora_test
