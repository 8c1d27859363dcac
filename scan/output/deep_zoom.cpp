// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/output/deep_zoom.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "scan/output/tile_codec.h"

namespace scan {

int dzi_max_level(const ImageSize& size) {
  const int64_t side = std::max(size.width, size.height);
  int level = 0;
  while ((int64_t{1} << level) < side) ++level;
  return level;
}

ImageSize dzi_level_size(const ImageSize& size, int level) {
  ImageSize at = size;
  for (int l = dzi_max_level(size); l > level; --l) at = halved(at);
  return at;
}

int64_t dzi_tiles(int64_t length) { return (length + dzi_tile_size - 1) / dzi_tile_size; }

TileSpan dzi_tile_span(int64_t t, int64_t length) {
  return {std::max<int64_t>(0, t * dzi_tile_size - dzi_overlap),
          std::min(length, (t + 1) * dzi_tile_size + dzi_overlap)};
}

std::string dzi_tile_name(int64_t col, int64_t row, TileFormat format) {
  return std::to_string(col) + "_" + std::to_string(row) +
         (format == TileFormat::jpeg ? ".jpeg" : ".png");
}

std::string dzi_descriptor(const ImageSize& size, TileFormat format) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<Image xmlns=\"http://schemas.microsoft.com/deepzoom/2008\" Format=\"") +
         (format == TileFormat::jpeg ? "jpeg" : "png") + "\" Overlap=\"" +
         std::to_string(dzi_overlap) + "\" TileSize=\"" + std::to_string(dzi_tile_size) +
         "\">\n  <Size Width=\"" + std::to_string(size.width) + "\" Height=\"" +
         std::to_string(size.height) + "\"/>\n</Image>\n";
}

// One level: its band of lines (the lines of one tile column of a vertical cut, one tile
// row of a horizontal one, overlap included), row by row.
struct DeepZoom::Level {
  int number = 0;
  ImageSize size;
  int64_t length = 0, across = 0;  // lines along the cut, pixels in a line
  int64_t band = 0;                // the tile column (row) being filled
  int64_t first = 0;               // the line at the band's start
  int64_t lines = 0;               // lines added so far
  int64_t stride = 0;              // bytes from one row of the band to the next
  std::vector<uint8_t> pixels;
};

// Helpers that wait between bands rather than a thread started for each band: a
// thread's encoder buffers (the deflate's level buffer, the filtered rows) are then made
// once, not once a band, and no band pays for starting and ending threads.
class DeepZoom::Crew {
 public:
  explicit Crew(int helpers) {
    for (int h = 0; h < helpers; ++h) threads_.emplace_back([this] { serve(); });
  }
  ~Crew() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  Crew(const Crew&) = delete;
  Crew& operator=(const Crew&) = delete;

  // Runs `work` on every helper and on the calling thread; returns once all have left it.
  void run(const std::function<void()>& work) {
    {
      std::lock_guard lock(mutex_);
      work_ = &work;
      busy_ = static_cast<int>(threads_.size());
      ++round_;
    }
    wake_.notify_all();
    work();
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return busy_ == 0; });
    work_ = nullptr;
  }

 private:
  void serve() {
    uint64_t seen = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return quit_ || round_ != seen; });
      if (quit_) return;
      seen = round_;
      const std::function<void()>* work = work_;
      lock.unlock();
      (*work)();
      lock.lock();
      if (--busy_ == 0) done_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  const std::function<void()>* work_ = nullptr;
  uint64_t round_ = 0;
  int busy_ = 0;
  bool quit_ = false;
  std::vector<std::thread> threads_;
};

namespace {

constexpr int64_t band_lines = dzi_tile_size + 2 * dzi_overlap;

base::Status write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return base::failed("cannot write (" + std::string(std::strerror(errno)) + ")");
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      const int code = wrote < 0 ? errno : ENOSPC;
      ::close(fd);
      return base::failed("cannot write (" + std::string(std::strerror(code)) + ")");
    }
    done += static_cast<size_t>(wrote);
  }
  if (::close(fd) != 0)
    return base::failed("cannot write (" + std::string(std::strerror(errno)) + ")");
  return {};
}

}  // namespace

DeepZoom::DeepZoom(std::string files, strips::Cut cut, TileFormat format, int quality,
                   int threads)
    : files_(std::move(files)),
      cut_(cut),
      format_(format),
      quality_(quality),
      threads_(std::max(1, threads)),
      crew_(std::make_unique<Crew>(threads_ - 1)) {}

DeepZoom::~DeepZoom() = default;

base::Result<std::unique_ptr<DeepZoom>, base::Error> DeepZoom::open(const std::string& files,
                                                                   const ImageSize& size,
                                                                   strips::Cut cut,
                                                                   TileFormat format,
                                                                   int quality, int threads) {
  auto zoom = std::make_unique<DeepZoom>(files, cut, format, quality, threads);
  const bool vertical = cut == strips::Cut::vertical;
  std::vector<ImageSize> sizes;
  for (int l = dzi_max_level(size); l >= 0; --l) {
    auto level = std::make_unique<Level>();
    level->number = l;
    level->size = sizes.empty() ? size : halved(sizes.back());
    sizes.push_back(level->size);
    level->length = vertical ? level->size.width : level->size.height;
    level->across = vertical ? level->size.height : level->size.width;
    const int64_t pb = size.pixel_bytes;
    level->stride = (vertical ? band_lines : level->across) * pb;
    level->pixels.resize(static_cast<size_t>(band_lines * level->across * pb));
    const std::string folder = files + "/" + std::to_string(l);
    if (::mkdir(folder.c_str(), 0777) != 0)
      return base::failed("cannot make the folder " + folder + " (" + std::strerror(errno) + ")");
    zoom->levels_.push_back(std::move(level));
  }
  DeepZoom* self = zoom.get();
  zoom->chain_ = std::make_unique<LevelChain>(
      cut, sizes, [self](size_t level, const strips::ConstBytePlane& line) {
        return self->add_lines(*self->levels_[level], line);
      });
  return zoom;
}

base::Status DeepZoom::add(const strips::ConstBytePlane& strip) {
  if (base::Status ok = add_lines(*levels_.front(), strip); !ok) return ok;
  return chain_->add(strip);
}

base::Status DeepZoom::add_lines(Level& level, const strips::ConstBytePlane& lines) {
  const bool vertical = cut_ == strips::Cut::vertical;
  const int64_t pb = level.size.pixel_bytes;
  const int64_t count =
      std::min(vertical ? lines.width / pb : lines.height, level.length - level.lines);
  for (int64_t i = 0; i < count;) {
    // The lines up to the band's last go in together: of a vertical cut, one copy a row
    // for all of them rather than one a pixel.
    const int64_t run =
        std::min(count - i, dzi_tile_span(level.band, level.length).end - level.lines);
    const int64_t at = level.lines - level.first;  // the first one's place in the band
    if (vertical) {
      for (int64_t y = 0; y < level.across; ++y)
        std::memcpy(level.pixels.data() + y * level.stride + at * pb,
                    lines.pixels + y * lines.stride + i * pb, static_cast<size_t>(run * pb));
    } else {
      for (int64_t k = 0; k < run; ++k)
        std::memcpy(level.pixels.data() + (at + k) * level.stride,
                    lines.pixels + (i + k) * lines.stride, static_cast<size_t>(level.across * pb));
    }
    level.lines += run;
    i += run;
    // A last tile that is nothing but overlap (a side of 255) is complete with the one before.
    while (level.band < dzi_tiles(level.length) &&
           level.lines == dzi_tile_span(level.band, level.length).end)
      if (base::Status ok = write_band(level); !ok) return ok;
  }
  return {};
}

// The band's tiles, encoded on the threads, each into its own file; then the lines the
// next band shares with this one (its overlap) go to the band's start.
base::Status DeepZoom::write_band(Level& level) {
  const bool vertical = cut_ == strips::Cut::vertical;
  const int64_t pb = level.size.pixel_bytes;
  const TileSpan along = dzi_tile_span(level.band, level.length);
  const int64_t tiles = dzi_tiles(level.across);
  const std::string folder = files_ + "/" + std::to_string(level.number) + "/";
  std::vector<std::optional<base::Error>> errors(static_cast<size_t>(tiles));
  std::atomic<int64_t> next{0};
  const std::function<void()> work = [&] {
    for (int64_t t = next++; t < tiles; t = next++) {
      const TileSpan span = dzi_tile_span(t, level.across);
      TilePixels tile;
      tile.pixel_bytes = static_cast<int>(pb);
      tile.stride = level.stride;
      tile.width = vertical ? along.end - along.first : span.end - span.first;
      tile.height = vertical ? span.end - span.first : along.end - along.first;
      tile.pixels = level.pixels.data() + (vertical ? span.first * level.stride : span.first * pb);
      auto bytes = format_ == TileFormat::jpeg ? encode_jpeg(tile, quality_) : encode_png(tile);
      const int64_t col = vertical ? level.band : t, row = vertical ? t : level.band;
      base::Status written =
          bytes ? write_file(folder + dzi_tile_name(col, row, format_), *bytes)
                : base::Status(base::failure(bytes.error()));
      if (!written) errors[static_cast<size_t>(t)] = written.error();
    }
  };
  crew_->run(work);
  for (const std::optional<base::Error>& error : errors)
    if (error) return base::failure(*error);
  // The next band starts one overlap before this one's last tile line.
  if (level.band + 1 < dzi_tiles(level.length)) {
    const int64_t next_first = dzi_tile_span(level.band + 1, level.length).first;
    const int64_t keep = level.lines - next_first, from = next_first - level.first;
    if (vertical) {
      for (int64_t y = 0; y < level.across; ++y)
        std::memmove(level.pixels.data() + y * level.stride,
                     level.pixels.data() + y * level.stride + from * pb,
                     static_cast<size_t>(keep * pb));
    } else {
      std::memmove(level.pixels.data(), level.pixels.data() + from * level.stride,
                   static_cast<size_t>(keep * level.stride));
    }
    level.first = next_first;
  }
  ++level.band;
  return {};
}

base::Status DeepZoom::finish() {
  // Every line of every level has come by then, and with it every band's last tile line.
  if (base::Status ok = chain_->finish(); !ok) return ok;
  for (auto& level : levels_)
    if (level->lines != level->length)
      return base::failed("level " + std::to_string(level->number) + " is incomplete");
  return {};
}

}  // namespace scan
