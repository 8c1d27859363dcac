// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan against FFmpeg's command-line recipe on the same work, in the same run:
// writes its clips into /tmp once, runs each command several times in turn, and prints
// medians of wall time, the medians of each repetition's ratios against the goals, and
// velmora-scan's peak memory.
// Then the PNG writer against libpng on the same image, a horizontal run's peak memory for
// a short and a long range, and the peak memory of TIFF runs on a clip and on one 4x as
// long, which must not grow; then image sequences and pipes. "png" skips the FFmpeg workloads,
// "h264" runs only every frame of H.264, "lines" only the slits along lines, "inputs" only
// the image sequences and pipes, "zoom" only the pyramidal TIFF and Deep Zoom against the
// flat TIFF, "video" only a time-displaced clip against FFmpeg's plain re-encoding (these
// two run only when asked), "stack" only the kymograph of a 16-bit TIFF stack against
// reading its every page whole with libtiff.
//   scan_bench [repetitions] [png|h264|lines|inputs|zoom|video|stack]
#include <png.h>
#include <spawn.h>
#include <tiffio.h>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "scan/output/png_output.h"
#include "scan/output/strip_image.h"
#include "tools/clipwriter/clip_writer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int threads = 2;
constexpr int width = 1920, height = 1080, frames = 600;

// Texture that moves every frame, so that P- and B-frames carry real work.
uint32_t moving_texture(int frame, int x, int y) {
  uint32_t r = (x * 2 + frame * 4) & 0xff;
  uint32_t g = (y * 2 + frame * 3) & 0xff;
  uint32_t b = (((x + frame) ^ (y - frame)) + frame) & 0xff;
  return r << 16 | g << 8 | b;
}

// Written in a child process: a child's peak memory counts its parent's from before it
// started its program, so this process stays small.
std::string clip(const char* name, clipwriter::ClipSpec spec) {
  const std::string path = std::string("/tmp/velmora-scan-bench-") + name;
  if (fs::exists(path)) return path;
  std::fprintf(stderr, "writing %s ...\n", path.c_str());
  const std::string partial = path + ".part";
  pid_t writer = fork();
  if (writer == 0) {
    const base::Status written = clipwriter::write_clip(partial, spec, moving_texture);
    if (!written)
      std::fprintf(stderr, "cannot write %s: %s\n", partial.c_str(),
                   written.error().message.c_str());
    _exit(written ? 0 : 1);
  }
  int status = 0;
  waitpid(writer, &status, 0);
  if (writer < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) std::exit(1);
  fs::rename(partial, path);
  return path;
}

struct Outcome {
  double seconds = 0;      // wall time
  double cpu_seconds = 0;  // user and system time of the command, all its threads
  double peak_mb = 0;
};

// Runs a command with no output but errors; exits when it fails.
Outcome run(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  std::vector<std::string> copies = command;
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", argv[0]);
    std::exit(1);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Outcome outcome;
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.peak_mb = usage.ru_maxrss / 1024.0;
  outcome.cpu_seconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                        usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "failed: %s\n", command[0].c_str());
    std::exit(1);
  }
  return outcome;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median of a[i] / b[i]: runs made back to back share the machine's load of the moment,
// which on a shared machine drifts by more than the differences measured.
double paired_ratio(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> ratios;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) ratios.push_back(a[i] / b[i]);
  return median(ratios);
}

std::vector<std::string> ffmpeg(const std::string& input, const std::vector<std::string>& rest) {
  std::vector<std::string> command{
      "ffmpeg", "-nostdin", "-v", "error", "-y", "-threads", std::to_string(threads), "-i", input};
  command.insert(command.end(), rest.begin(), rest.end());
  return command;
}

// FFmpeg's crop + tile recipe for a 10-column slit at column 955, every `every` frames.
std::vector<std::string> recipe(const std::string& input, int every, const std::string& out) {
  const int tiles = (frames + every - 1) / every;
  std::string filter =
      "crop=10:" + std::to_string(height) + ":955:0,tile=" + std::to_string(tiles) + "x1";
  if (every > 1) filter = "framestep=" + std::to_string(every) + "," + filter;
  return ffmpeg(input, {"-vf", filter, "-frames:v", "1", out});
}

std::vector<std::string> scan_command(const std::string& input, int every, const std::string& out) {
  return {VELMORA_SCAN, "--force", "--quiet", "--threads",           std::to_string(threads),
          "--slit",     "955:10",  "--every", std::to_string(every), input,
          out};
}

// `command` with `more` (options each with a value): an option it has already takes the new
// value (a second --slit would be a second slit), others go before INPUT and OUTPUT.
std::vector<std::string> with_args(std::vector<std::string> command,
                                   const std::vector<std::string>& more) {
  for (size_t m = 0; m + 1 < more.size(); m += 2) {
    auto had = std::find(command.begin(), command.end() - 2, more[m]);
    if (had != command.end() - 2)
      *(had + 1) = more[m + 1];
    else
      command.insert(command.end() - 2, {more[m], more[m + 1]});
  }
  return command;
}

// One command of a workload and what its runs took.
struct Side {
  std::string name;
  std::vector<std::string> command;
  double goal = 0;  // velmora-scan's ratio against this side must stay at or under it
  std::vector<double> wall = {}, cpu = {};
  double peak_mb = 0;

  void add(const Outcome& outcome) {
    wall.push_back(outcome.seconds);
    cpu.push_back(outcome.cpu_seconds);
    peak_mb = std::max(peak_mb, outcome.peak_mb);
  }
};

// velmora-scan and the FFmpeg commands it is measured against, on the same work.
struct Workload {
  std::string what;
  int every;
  Side scan;
  std::vector<Side> against;
};

void print_tables(const std::vector<Workload>& workloads) {
  std::printf("| what | velmora-scan | FFmpeg | wall ratio | goal | CPU time ratio |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const Workload& w : workloads) {
    for (const Side& side : w.against) {
      const double ratio = paired_ratio(w.scan.wall, side.wall);
      std::printf("| %s | %.2f s | %.2f s (%s) | %.2fx | <= %.2fx: %s | %.2fx |\n", w.what.c_str(),
                  median(w.scan.wall), median(side.wall), side.name.c_str(), ratio, side.goal,
                  ratio <= side.goal ? "met" : "missed", paired_ratio(w.scan.cpu, side.cpu));
    }
  }
  std::printf(
      "\n| run | peak resident memory | output image + 100 MB | goal |\n|---|---|---|---|\n");
  for (const Workload& w : workloads) {
    const double image_mb = double(frames + w.every - 1) / w.every * 10 * height * 3 / 1e6;
    std::printf("| %s | %.1f MB | %.1f MB | %s |\n", w.what.c_str(), w.scan.peak_mb, image_mb + 100,
                w.scan.peak_mb <= image_mb + 100 ? "met" : "missed");
  }
}

// The memory runs' two MJPEG clips of 640 x 360: 1500 frames and 4x as many.
struct ClipPair {
  clipwriter::ClipSpec spec{
      .width = 640, .height = 360, .frames = 1500, .fps_num = 25, .codec = clipwriter::Codec::mjpeg};
  clipwriter::ClipSpec longer_spec = [this] {
    clipwriter::ClipSpec longer = spec;
    longer.frames = 4 * spec.frames;
    return longer;
  }();
  std::string clips[2] = {clip("mjpeg-360p-1500.avi", spec), clip("mjpeg-360p-6000.avi", longer_spec)};
};

// A TIFF holds one band of tiles, whatever the clip's length: for either cut the peak
// memory of a run on a clip 4x as long stays within 1.1x. The PNG of the same runs, which
// holds the whole image, shows what is saved.
void print_tiff_memory(int repetitions) {
  const ClipPair pair;
  const clipwriter::ClipSpec& spec = pair.spec;
  const clipwriter::ClipSpec& longer_spec = pair.longer_spec;
  const std::string* clips = pair.clips;
  std::printf("\n| run, slit of 4 lines | peak memory, %d frames | %d frames | ratio | goal |\n",
              spec.frames, longer_spec.frames);
  std::printf("|---|---|---|---|---|\n");
  for (const char* format : {"tif", "png"}) {
    for (const char* cut : {"vertical", "horizontal"}) {
      double peak[2] = {0, 0};
      for (int r = 0; r < repetitions; ++r)
        for (int i = 0; i < 2; ++i)
          peak[i] = std::max(peak[i], run({VELMORA_SCAN, "--force", "--quiet", "--threads",
                                           std::to_string(threads), "--cut", cut, "--slit",
                                           "50%:4", clips[i],
                                           std::string("/tmp/velmora-scan-bench-out.") + format})
                                          .peak_mb);
      const double ratio = peak[1] / peak[0];
      const bool tiff = std::string(format) == "tif";
      std::printf("| %s, %s | %.1f MB | %.1f MB | %.2fx | %s |\n", tiff ? "TIFF" : "PNG", cut,
                  peak[0], peak[1], ratio,
                  tiff ? (ratio <= 1.1 ? "<= 1.10x: met" : "<= 1.10x: missed") : "none (for comparison)");
    }
  }
}

// The zoomable outputs against today's flat tiled TIFF of the same run: wall time (paired
// medians of each repetition's ratio, goal at most 1.3x) and peak memory on a clip and on
// one 4x as long (goal at most 1.1x). A wide slit makes the writing, not the decoding, the
// larger part of the work: 64 columns a frame, 96000 x 360 pixels from the shorter clip.
void print_zoom(int repetitions) {
  const ClipPair pair;
  const clipwriter::ClipSpec& spec = pair.spec;
  const clipwriter::ClipSpec& longer_spec = pair.longer_spec;
  const std::string* clips = pair.clips;
  struct Kind {
    const char* what;
    std::vector<std::string> options;
    const char* output;
    std::vector<double> wall[2] = {};
    double peak[2] = {0, 0};
  };
  std::vector<Kind> kinds = {{"flat tiled TIFF", {}, "/tmp/velmora-scan-bench-zoom.tif"},
                             {"pyramidal TIFF", {"--pyramid"}, "/tmp/velmora-scan-bench-zoom.tif"},
                             {"Deep Zoom, JPEG tiles", {}, "/tmp/velmora-scan-bench-zoom.dzi"},
                             {"Deep Zoom, PNG tiles", {"--tile-format", "png"},
                              "/tmp/velmora-scan-bench-zoom.dzi"}};
  for (int r = 0; r < repetitions; ++r) {
    for (int i = 0; i < 2; ++i)
      for (Kind& k : kinds) {
        std::vector<std::string> command = {VELMORA_SCAN, "--force", "--quiet", "--threads",
                                            std::to_string(threads), "--slit", "0:64"};
        command.insert(command.end(), k.options.begin(), k.options.end());
        command.insert(command.end(), {clips[i], k.output});
        const Outcome outcome = run(command);
        k.wall[i].push_back(outcome.seconds);
        k.peak[i] = std::max(k.peak[i], outcome.peak_mb);
      }
    std::fprintf(stderr, "repetition %d of %d done\n", r + 1, repetitions);
  }
  fs::remove("/tmp/velmora-scan-bench-zoom.tif");
  fs::remove("/tmp/velmora-scan-bench-zoom.dzi");
  fs::remove_all("/tmp/velmora-scan-bench-zoom_files");
  std::printf("\n| output, slit of 64 columns | time, %d frames | %d frames | time vs flat TIFF "
              "(%d frames) | peak memory, %d frames | %d frames | memory ratio |\n",
              spec.frames, longer_spec.frames, longer_spec.frames, spec.frames, longer_spec.frames);
  std::printf("|---|---|---|---|---|---|---|\n");
  for (const Kind& k : kinds) {
    const double time_ratio = paired_ratio(k.wall[1], kinds.front().wall[1]);
    const double memory_ratio = k.peak[1] / k.peak[0];
    std::printf("| %s | %.2f s | %.2f s | %.2fx (<= 1.30x: %s) | %.1f MB | %.1f MB | %.2fx "
                "(<= 1.10x: %s) |\n",
                k.what, median(k.wall[0]), median(k.wall[1]), time_ratio,
                time_ratio <= 1.3 ? "met" : "missed", k.peak[0], k.peak[1], memory_ratio,
                memory_ratio <= 1.1 ? "met" : "missed");
  }
  std::printf("\nmedians of %d runs each, %d threads\n", repetitions, threads);
}

// The streak image velmora-scan made, read back with libpng.
scan::StripImage read_image(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (file == nullptr || setjmp(png_jmpbuf(png))) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::exit(1);
  }
  png_init_io(png, file);
  png_read_info(png, info);
  scan::StripImage image;
  if (auto had = image.allocate({png_get_image_width(png, info), png_get_image_height(png, info),
                                 png_get_bit_depth(png, info) == 16 ? 6 : 3});
      !had) {
    std::fprintf(stderr, "%s\n", had.error().message.c_str());
    std::exit(1);
  }
  for (int64_t y = 0; y < image.size().height; ++y)
    png_read_row(png, image.plane().pixels + y * image.stride(), nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return image;
}

// libpng as velmora-scan used it: level 1, the Sub filter, row by row.
void write_libpng(std::FILE* file, const scan::StripImage& image) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) std::exit(1);
  png_init_io(png, file);
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  const scan::ImageSize& size = image.size();
  png_set_IHDR(png, info, static_cast<png_uint_32>(size.width),
               static_cast<png_uint_32>(size.height), size.pixel_bytes == 6 ? 16 : 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
               PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  for (int64_t y = 0; y < size.height; ++y) png_write_row(png, image.row(y));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
}

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

// Wall and CPU seconds of one write into `path`, closing included.
template <class Write>
Outcome timed_write(const std::string& path, Write write) {
  const auto start = std::chrono::steady_clock::now();
  const double cpu_start = cpu_seconds();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::exit(1);
  write(file);
  if (std::fclose(file) != 0) std::exit(1);
  Outcome outcome;
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.cpu_seconds = cpu_seconds() - cpu_start;
  return outcome;
}

// Our writer with `threads` threads against libpng at level 1 on the 600-strip image of the
// H.264 clip, in turn.
void print_png_writing(const std::string& h264, int repetitions) {
  const std::string image_path = "/tmp/velmora-scan-bench-image.png";
  run(scan_command(h264, 1, image_path));
  const scan::StripImage image = read_image(image_path);
  const std::string ours_path = "/tmp/velmora-scan-bench-ours.png",
                    libpng_path = "/tmp/velmora-scan-bench-libpng.png";
  // Ours with one thread too: how much of the ratio is the threads'.
  Side ours{"ours", {}}, alone{"ours, 1 thread", {}}, libpng{"libpng level 1", {}};
  for (int r = 0; r < repetitions; ++r) {
    ours.add(timed_write(ours_path, [&](std::FILE* file) {
      if (!scan::write_png(file, image, threads)) std::exit(1);
    }));
    alone.add(timed_write(ours_path, [&](std::FILE* file) {
      if (!scan::write_png(file, image, 1)) std::exit(1);
    }));
    libpng.add(timed_write(libpng_path, [&](std::FILE* file) { write_libpng(file, image); }));
  }
  const double ratio = paired_ratio(ours.wall, libpng.wall);
  std::printf("\n| what | ours, %d threads | ours, 1 thread | libpng level 1 | wall ratio | goal | "
              "CPU time ratio | size ratio |\n|---|---|---|---|---|---|---|---|\n",
              threads);
  std::printf("| PNG writing of the %lld x %lld image | %.3f s | %.3f s | %.3f s | %.2fx | "
              "<= 0.30x: %s | %.2fx | %.4f |\n",
              static_cast<long long>(image.size().width),
              static_cast<long long>(image.size().height), median(ours.wall),
              median(alone.wall), median(libpng.wall), ratio, ratio <= 0.30 ? "met" : "missed",
              paired_ratio(ours.cpu, libpng.cpu),
              double(fs::file_size(ours_path)) / double(fs::file_size(libpng_path)));
}

// A horizontal cut writes its rows as they come: its peak memory for the whole clip
// stays that of a quarter of it, though the image is four times as tall.
void print_horizontal_memory(const std::string& mjpeg) {
  const std::string out = "/tmp/velmora-scan-bench-rows.png";
  double peak[2] = {};
  const int to[2] = {frames / 4, frames};
  for (int i = 0; i < 2; ++i) {
    std::vector<std::string> command = {VELMORA_SCAN, "--force", "--quiet", "--threads",
                                        std::to_string(threads), "--cut", "horizontal",
                                        "--slit", "535:10", "--to", std::to_string(to[i]),
                                        mjpeg, out};
    peak[i] = run(command).peak_mb;
  }
  const double grown = peak[1] - peak[0];
  std::printf("\n| horizontal cut, slit of 10 rows | peak, %d frames | peak, %d frames | "
              "image grows by | peak grows by | goal |\n|---|---|---|---|---|---|\n",
              to[0], to[1]);
  std::printf("| 1080p MJPEG | %.1f MB | %.1f MB | %.1f MB | %.1f MB | <= 5 MB: %s |\n", peak[0],
              peak[1], double(to[1] - to[0]) * 10 * width * 3 / 1e6, grown,
              grown <= 5 ? "met" : "missed");
}

// 500 JPEGs of 1920 x 1080, one centre column each, against FFmpeg decoding the same
// images; and a Matroska clip read through a pipe against the same file by name.
void print_inputs(int repetitions) {
  const std::string folder = "/tmp/velmora-scan-bench-jpegs";
  if (!fs::exists(folder + "/0500.jpg")) {
    std::fprintf(stderr, "writing %s ...\n", folder.c_str());
    fs::create_directories(folder);
    run(ffmpeg(clip("mjpeg-1080p-600.avi", {.width = width, .height = height, .frames = frames,
                                             .fps_num = 25, .codec = clipwriter::Codec::mjpeg}),
               {"-frames:v", "500", "-q:v", "3", folder + "/%04d.jpg"}));
  }
  const std::string mkv = clip("mjpeg-1080p-600.mkv", {.width = width, .height = height,
                                                       .frames = frames, .fps_num = 25,
                                                       .codec = clipwriter::Codec::mjpeg,
                                                       .container = "matroska"});
  const std::string out = "/tmp/velmora-scan-bench-inputs.png";
  const std::string scan = std::string(VELMORA_SCAN) + " --force --quiet --threads " +
                           std::to_string(threads) + " ";
  Side images{"velmora-scan", {VELMORA_SCAN, "--force", "--quiet", "--threads",
                               std::to_string(threads), folder, out}, 1.0};
  Side decoded{"-f null", ffmpeg(folder + "/%04d.jpg", {"-f", "null", "-"})};
  Side piped{"velmora-scan -", {"sh", "-c", scan + "- " + out + " < " + mkv}, 1.05};
  Side named{"velmora-scan FILE", scan_command(mkv, 1, out)};
  // Each pair in turn, first one and then the other first.
  for (int r = 0; r < repetitions; ++r)
    for (auto [one, other] : {std::pair{&images, &decoded}, std::pair{&piped, &named}}) {
      if (r % 2 == 1) std::swap(one, other);
      one->add(run(one->command));
      other->add(run(other->command));
    }
  std::printf("\n| input | velmora-scan | against | wall ratio | goal | CPU time ratio | "
              "peak memory |\n|---|---|---|---|---|---|---|\n");
  for (auto [what, ours, theirs] :
       {std::tuple{"500 JPEGs 1920 x 1080, centre column", &images, &decoded},
        std::tuple{"1080p MJPEG Matroska through a pipe", &piped, &named}}) {
    const double ratio = paired_ratio(ours->wall, theirs->wall);
    std::printf("| %s | %.2f s | %.2f s (%s) | %.2fx | <= %.2fx: %s | %.2fx | %.1f MB |\n", what,
                median(ours->wall), median(theirs->wall), theirs->name.c_str(), ratio,
                ours->goal, ratio <= ours->goal ? "met" : "missed",
                paired_ratio(ours->cpu, theirs->cpu), ours->peak_mb);
  }
}

}  // namespace

// Slits along lines on 1080p H.264, every frame: a diagonal --line corner to corner
// against --slit, and three slits in one pass against one, measured in turn.
void print_lines(const std::string& h264, int repetitions) {
  const std::string out = "/tmp/velmora-scan-bench-line.png";
  auto command = [&](std::vector<std::string> slits, const std::string& output) {
    std::vector<std::string> c = {VELMORA_SCAN, "--force", "--quiet", "--threads",
                                  std::to_string(threads)};
    c.insert(c.end(), slits.begin(), slits.end());
    c.insert(c.end(), {h264, output});
    return c;
  };
  const std::string diagonal = "0,0," + std::to_string(width - 1) + "," + std::to_string(height - 1);
  const std::string rising = "0," + std::to_string(height - 1) + "," + std::to_string(width - 1) + ",0";
  struct Row {
    const char* what;
    std::vector<std::string> command;
    std::vector<double> wall = {};
  } rows[] = {
      {"--slit 960", command({"--slit", "960"}, out)},
      {"--line corner to corner", command({"--line", diagonal}, out)},
      {"three slits: --slit 960, two diagonals", command({"--slit", "960", "--line", diagonal,
                                                          "--line", rising},
                                                         "/tmp/velmora-scan-bench-line%d.png")},
  };
  for (int r = 0; r < repetitions; ++r)
    for (Row& row : rows) row.wall.push_back(run(row.command).seconds);
  std::printf("\n| every frame, 1080p H.264 | wall | ratio | against | goal |\n|---|---|---|---|---|\n");
  const double line_ratio = paired_ratio(rows[1].wall, rows[0].wall);
  const double three_ratio = paired_ratio(rows[2].wall, rows[1].wall);
  std::printf("| %s | %.2f s | | | |\n", rows[0].what, median(rows[0].wall));
  std::printf("| %s | %.2f s | %.2fx | --slit 960 | <= 1.15x: %s |\n", rows[1].what,
              median(rows[1].wall), line_ratio, line_ratio <= 1.15 ? "met" : "missed");
  std::printf("| %s | %.2f s | %.2fx | --line corner to corner | <= 1.20x: %s |\n", rows[2].what,
              median(rows[2].wall), three_ratio, three_ratio <= 1.2 ? "met" : "missed");
  std::printf("\nmedians of %d runs each, %d decoding threads\n", repetitions, threads);
}

// A ramp of 240 frames on a 1080p H.264 clip of 300, written by libx264 at --crf 18,
// against FFmpeg re-encoding the same clip with the same encoder settings and threads: the
// displacement's cost over decoding plus encoding, and its peak memory against 240 whole
// frames and the 1 GB bound.
void print_video(int repetitions) {
  constexpr int ramp = 240;
  const std::string input = clip("h264-1080p-300.mp4", {.width = width,
                                                        .height = height,
                                                        .frames = 300,
                                                        .fps_num = 25,
                                                        .codec = clipwriter::Codec::h264,
                                                        .gop = 250,
                                                        .b_frames = 3,
                                                        .container = "mp4"});
  const std::string preset = "veryfast";
  Workload w{"ramp:240, 1080p H.264, 300 frames, libx264 crf 18 " + preset,
             1,
             {"velmora-scan",
              {VELMORA_SCAN, "--force", "--quiet", "--threads", std::to_string(threads), "--delay",
               "ramp:" + std::to_string(ramp), "--encoder-option", "preset=" + preset,
               "--encoder-option", "threads=" + std::to_string(threads), input,
               "/tmp/velmora-scan-bench-out.mkv"}},
             {{"libx264 re-encoding",
               ffmpeg(input, {"-threads", std::to_string(threads), "-c:v", "libx264", "-crf", "18",
                              "-preset", preset, "/tmp/velmora-scan-bench-ffmpeg.mkv"}),
               1.15}}};
  for (int r = 0; r < repetitions; ++r) {
    if (r % 2 == 0) w.scan.add(run(w.scan.command));
    for (Side& side : w.against) side.add(run(side.command));
    if (r % 2 == 1) w.scan.add(run(w.scan.command));
    std::fprintf(stderr, "repetition %d of %d done\n", r + 1, repetitions);
  }
  const Side& theirs = w.against.front();
  const double ratio = paired_ratio(w.scan.wall, theirs.wall);
  const double frame_mb = width * height * 1.5 / 1e6;  // 4:2:0, 8 bits
  std::printf("| what | velmora-scan | FFmpeg | wall ratio | goal | CPU time ratio |\n");
  std::printf("|---|---|---|---|---|---|\n");
  std::printf("| %s | %.2f s | %.2f s (%s) | %.2fx | <= %.2fx: %s | %.2fx |\n", w.what.c_str(),
              median(w.scan.wall), median(theirs.wall), theirs.name.c_str(), ratio, theirs.goal,
              ratio <= theirs.goal ? "met" : "missed", paired_ratio(w.scan.cpu, theirs.cpu));
  std::printf("\n| run | peak resident memory | FFmpeg's peak | %d whole frames | 0.55x of them + FFmpeg's | goal 1 GB |\n"
              "|---|---|---|---|---|---|\n", ramp);
  const double bound = 0.55 * ramp * frame_mb + theirs.peak_mb;
  std::printf("| %s | %.1f MB | %.1f MB | %.1f MB | %.1f MB: %s | %s |\n", w.what.c_str(), w.scan.peak_mb,
              theirs.peak_mb, ramp * frame_mb, bound, w.scan.peak_mb <= bound ? "met" : "missed",
              w.scan.peak_mb <= 1000 ? "met" : "missed");
  std::printf("\nmedians of %d runs each, %d threads\n", repetitions, threads);
}

// A 16-bit grey stack of 512 x 512 pages, uncompressed as ImageJ writes one: in strips of
// libtiff's default height, or in tiles of 64 x 64.
constexpr int stack_side = 512, stack_pages = 2000;

std::string stack(const char* name, bool tiled) {
  const std::string path = std::string("/tmp/velmora-scan-bench-") + name;
  if (fs::exists(path)) return path;
  std::fprintf(stderr, "writing %s ...\n", path.c_str());
  const std::string partial = path + ".part";
  TIFF* t = TIFFOpen(partial.c_str(), "w");
  if (t == nullptr) std::exit(1);
  std::vector<uint16_t> page(stack_side * stack_side);
  for (int p = 0; p < stack_pages; ++p) {
    for (int y = 0; y < stack_side; ++y)
      for (int x = 0; x < stack_side; ++x)
        page[y * stack_side + x] = static_cast<uint16_t>(x * 37 + y * 11 + p * 101 + (x * y) % 97);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, stack_side);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, stack_side);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    bool written = true;
    if (tiled) {
      constexpr int tile = 64;
      TIFFSetField(t, TIFFTAG_TILEWIDTH, tile);
      TIFFSetField(t, TIFFTAG_TILELENGTH, tile);
      std::vector<uint16_t> chunk(tile * tile);
      for (int ty = 0; ty < stack_side; ty += tile)
        for (int tx = 0; tx < stack_side; tx += tile) {
          for (int y = 0; y < tile; ++y)
            std::copy_n(&page[(ty + y) * stack_side + tx], tile, &chunk[y * tile]);
          written = written && TIFFWriteTile(t, chunk.data(), tx, ty, 0, 0) >= 0;
        }
    } else {
      TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
      for (int y = 0; y < stack_side; ++y)
        written = written && TIFFWriteScanline(t, &page[y * stack_side], y, 0) == 1;
    }
    if (!written || !TIFFWriteDirectory(t)) std::exit(1);
  }
  TIFFClose(t);
  fs::rename(partial, path);
  return path;
}

// Every page read whole, strip by strip or tile by tile, as a whole-stack reader (or
// tiffcp) reads it: through libtiff's map of the file ("r", its default) or with reads
// ("rm"), which here was the faster by a fifth to a third.
Outcome read_every_page(const std::string& path, const char* mode) {
  const auto start = std::chrono::steady_clock::now();
  const double cpu_start = cpu_seconds();
  TIFF* t = TIFFOpen(path.c_str(), mode);
  if (t == nullptr) std::exit(1);
  const bool tiled = TIFFIsTiled(t) != 0;
  std::vector<uint8_t> chunk(static_cast<size_t>(tiled ? TIFFTileSize(t) : TIFFStripSize(t)));
  do {
    const uint32_t chunks = tiled ? TIFFNumberOfTiles(t) : TIFFNumberOfStrips(t);
    for (uint32_t i = 0; i < chunks; ++i) {
      const tmsize_t got = tiled ? TIFFReadEncodedTile(t, i, chunk.data(), static_cast<tmsize_t>(chunk.size()))
                                 : TIFFReadEncodedStrip(t, i, chunk.data(), static_cast<tmsize_t>(chunk.size()));
      if (got < 0) std::exit(1);
    }
  } while (TIFFReadDirectory(t));
  TIFFClose(t);
  Outcome outcome;
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.cpu_seconds = cpu_seconds() - cpu_start;
  return outcome;
}

// A kymograph along a polyline of 4 segments, 5 thick, --reduce max, against reading every
// page whole with libtiff, in turn; goal at most 0.5x.
void print_stack(int repetitions) {
  struct Variant {
    const char* what;
    std::string path;
    std::vector<double> scan = {}, whole = {};
  } variants[] = {{"stripped (8 rows a strip)", stack("stack-strips.tif", false)},
                  {"tiled (64 x 64)", stack("stack-tiles.tif", true)}};
  for (int r = 0; r < repetitions; ++r)
    for (Variant& v : variants) {
      const std::vector<std::string> command = {
          VELMORA_SCAN, "--force", "--quiet", "--threads", std::to_string(threads), "--line",
          "60,200,180,260,300,215,400,290,470,240", "--thickness", "5", "--reduce", "max",
          v.path, "/tmp/velmora-scan-bench-kymograph.tif"};
      if (r % 2 == 0) v.scan.push_back(run(command).seconds);
      // The faster of libtiff's two ways, in turn.
      const bool map_first = r % 2 == 0;
      const double a = read_every_page(v.path, map_first ? "r" : "rm").seconds;
      const double b = read_every_page(v.path, map_first ? "rm" : "r").seconds;
      v.whole.push_back(std::min(a, b));
      if (r % 2 == 1) v.scan.push_back(run(command).seconds);
    }
  std::printf("\n| 16-bit stack, 512 x 512 x %d, polyline of 4 segments, 5 thick, --reduce max | "
              "velmora-scan | every page read whole (libtiff, the faster of mapped and read) | wall ratio | goal |\n"
              "|---|---|---|---|---|\n",
              stack_pages);
  for (const Variant& v : variants) {
    const double ratio = paired_ratio(v.scan, v.whole);
    std::printf("| %s | %.2f s | %.2f s | %.2fx | <= 0.50x: %s |\n", v.what, median(v.scan),
                median(v.whole), ratio, ratio <= 0.5 ? "met" : "missed");
  }
  std::printf("\nmedians of %d runs each, %d threads\n", repetitions, threads);
}

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const bool png_only = argc > 2 && std::string(argv[2]) == "png";
  const bool lines_only = argc > 2 && std::string(argv[2]) == "lines";
  const bool h264_only = argc > 2 && std::string(argv[2]) == "h264";
  if (argc > 2 && std::string(argv[2]) == "video") {
    print_video(repetitions);
    return 0;
  }
  if (argc > 2 && std::string(argv[2]) == "zoom") {
    print_zoom(repetitions);
    return 0;
  }
  if (argc > 2 && std::string(argv[2]) == "inputs") {
    print_inputs(repetitions);
    return 0;
  }
  if (argc > 2 && std::string(argv[2]) == "stack") {
    print_stack(repetitions);
    return 0;
  }
  const std::string h264 = clip("h264-1080p-600.mp4", {.width = width,
                                                       .height = height,
                                                       .frames = frames,
                                                       .fps_num = 25,
                                                       .codec = clipwriter::Codec::h264,
                                                       .gop = 250,
                                                       .b_frames = 3,
                                                       .container = "mp4"});
  if (lines_only) {
    print_lines(h264, repetitions);
    return 0;
  }
  const std::string mjpeg = clip("mjpeg-1080p-600.avi", {.width = width,
                                                         .height = height,
                                                         .frames = frames,
                                                         .fps_num = 25,
                                                         .codec = clipwriter::Codec::mjpeg});
  const std::string out = "/tmp/velmora-scan-bench-out.png",
                    theirs = "/tmp/velmora-scan-bench-ffmpeg.png";
  const std::vector<std::string> decode_h264 = ffmpeg(h264, {"-f", "null", "-"});
  const std::vector<std::string> decode_mjpeg = ffmpeg(mjpeg, {"-f", "null", "-"});
  std::vector<Workload> workloads = {
      {"every frame, 1080p H.264",
       1,
       {"velmora-scan", scan_command(h264, 1, out)},
       {{"-f null", decode_h264, 1.03}, {"crop+tile", recipe(h264, 1, theirs), 1.0}}},
      // MJPEG goes to --threads decoders at once, decoded by libjpeg-turbo around the slit.
      {"every frame, 1080p MJPEG, 10 columns",
       1,
       {"velmora-scan", scan_command(mjpeg, 1, out)},
       {{"-f null", decode_mjpeg, 0.50}, {"crop+tile", recipe(mjpeg, 1, theirs), 1.0}}},
      {"every frame, 1080p MJPEG, 10 rows (horizontal cut)",
       1,
       {"velmora-scan",
        with_args(scan_command(mjpeg, 1, out), {"--cut", "horizontal", "--slit", "535:10"})},
       {{"-f null", decode_mjpeg, 0.25}}},
      {"every frame, 1080p MJPEG, 10 columns, --decoder ffmpeg",
       1,
       {"velmora-scan", with_args(scan_command(mjpeg, 1, out), {"--decoder", "ffmpeg"})},
       {{"-f null", decode_mjpeg, 1.05}}},
      {"every 10th frame, 1080p MJPEG (intra-only)",
       10,
       {"velmora-scan", scan_command(mjpeg, 10, out)},
       {{"framestep+crop+tile", recipe(mjpeg, 10, theirs), 0.2}}},
      {"every 4th frame, 1080p H.264 (B-frames)",
       4,
       {"velmora-scan", scan_command(h264, 4, out)},
       {{"framestep+crop+tile", recipe(h264, 4, theirs), 0.85}}},
  };
  if (h264_only) workloads.resize(1);
  // In turn, so that a change in the machine's load falls on all sides alike; velmora-scan
  // first in one repetition and last in the next, so that neither side always follows the
  // other.
  for (int r = 0; r < repetitions && !png_only; ++r) {
    for (Workload& w : workloads) {
      if (r % 2 == 0) w.scan.add(run(w.scan.command));
      for (Side& side : w.against) side.add(run(side.command));
      if (r % 2 == 1) w.scan.add(run(w.scan.command));
    }
    std::fprintf(stderr, "repetition %d of %d done\n", r + 1, repetitions);
  }
  if (!png_only) {
    print_tables(workloads);
    std::printf("\nmedians of %d runs each, ratios the medians of each repetition's ratio, %d "
                "decoding threads\n",
                repetitions, threads);
  }
  if (h264_only) return 0;
  // In a child: the image it reads would otherwise stay in this process, whose peak memory
  // every later child's peak counts (see clip()).
  std::fflush(stdout);  // or the child prints what this process has not yet written
  if (pid_t writer = fork(); writer == 0) {
    print_png_writing(h264, repetitions);
    std::fflush(stdout);
    _exit(0);
  } else if (writer < 0 || waitpid(writer, nullptr, 0) != writer) {
    std::exit(1);
  }
  print_horizontal_memory(mjpeg);
  if (!png_only) print_tiff_memory(repetitions);
  if (!png_only) print_lines(h264, repetitions);
  if (!png_only) print_inputs(repetitions);
  if (!png_only) print_stack(repetitions);
  return 0;
}
