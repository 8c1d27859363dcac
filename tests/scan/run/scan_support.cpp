// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/scan/run/scan_support.h"

#include <fcntl.h>
#include <png.h>
#include <tiffio.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "decode/ffmpeg_handles.h"
#include "decode/rgb_scaler.h"
#include "scan/slit/slit_scaler.h"
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

Ran run_scan_on_pipe(const std::string& path, const std::vector<std::string>& args) {
  int err_fd = -1;
  const int pid = start_scan(args, err_fd, [&] {
    int fds[2];
    if (pipe(fds) != 0) _exit(99);
    if (fork() == 0) {
      close(fds[0]);
      const int in = open(path.c_str(), O_RDONLY);
      char buffer[4096];
      for (ssize_t got; (got = read(in, buffer, sizeof buffer)) > 0;)
        if (write(fds[1], buffer, static_cast<size_t>(got)) != got) break;
      _exit(0);
    }
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
    close(fds[1]);
  });
  return finish_scan(pid, err_fd);
}

Ran run_scan_with_file_limit(const std::vector<std::string>& args, uint64_t limit) {
  int err_fd = -1;
  const int pid = start_scan(args, err_fd, [limit] {
    // Ignored, the signal becomes a failed write instead of the end of the program.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit files{limit, limit};
    setrlimit(RLIMIT_FSIZE, &files);
  });
  return finish_scan(pid, err_fd);
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

Tiff read_tiff(const std::string& path) {
  std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(path.c_str(), "r"), TIFFClose);
  if (!tiff) throw std::runtime_error("libtiff cannot open " + path);
  Tiff out;
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, samples = 0;
  TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_COMPRESSION, &out.compression);
  // Only a compression's codec knows the predictor.
  out.predictor = 1;
  if (out.compression != COMPRESSION_NONE)
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_PREDICTOR, &out.predictor);
  out.bigtiff = TIFFIsBigTIFF(tiff.get()) != 0;
  out.image.width = static_cast<int>(width);
  out.image.height = static_cast<int>(height);
  out.image.bit_depth = bits;
  out.image.channels = samples;
  if (!TIFFIsTiled(tiff.get())) {
    // Stripped (an ImageJ TIFF): row by row, 16-bit samples made big-endian as above.
    const size_t row = size_t{samples} * bits / 8 * width;
    out.image.bytes.resize(row * height);
    for (uint32_t y = 0; y < height; ++y) {
      uint8_t* at = out.image.bytes.data() + row * y;
      if (TIFFReadScanline(tiff.get(), at, y, 0) < 0)
        throw std::runtime_error("libtiff cannot read a row of " + path);
      if (bits == 16)
        for (size_t i = 0; i + 1 < row; i += 2) std::swap(at[i], at[i + 1]);
    }
    return out;
  }
  TIFFGetField(tiff.get(), TIFFTAG_TILEWIDTH, &out.tile_width);
  TIFFGetField(tiff.get(), TIFFTAG_TILELENGTH, &out.tile_height);
  const size_t pixel = size_t{samples} * bits / 8;
  const size_t row = pixel * width;
  out.image.bytes.resize(row * height);
  std::vector<uint8_t> tile(static_cast<size_t>(TIFFTileSize(tiff.get())));
  for (uint32_t y0 = 0; y0 < height; y0 += out.tile_height)
    for (uint32_t x0 = 0; x0 < width; x0 += out.tile_width) {
      if (TIFFReadTile(tiff.get(), tile.data(), x0, y0, 0, 0) < 0)
        throw std::runtime_error("libtiff cannot read a tile of " + path);
      // Native 16-bit samples to big-endian, as PNG stores them.
      if (bits == 16)
        for (size_t i = 0; i + 1 < tile.size(); i += 2) {
          const uint16_t v = static_cast<uint16_t>(tile[i] | tile[i + 1] << 8);
          tile[i] = static_cast<uint8_t>(v >> 8);
          tile[i + 1] = static_cast<uint8_t>(v);
        }
      const uint32_t rows = std::min(out.tile_height, height - y0);
      const size_t bytes = pixel * std::min(out.tile_width, width - x0);
      for (uint32_t r = 0; r < rows; ++r)
        std::copy_n(tile.data() + pixel * out.tile_width * r, bytes,
                    out.image.bytes.data() + row * (y0 + r) + pixel * x0);
    }
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
