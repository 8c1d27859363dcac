// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/output/tiff_pyramid.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace scan {
namespace {

// A file without a name in `folder`: nothing of it outlives the run, however it ends.
base::Result<int, base::Error> unnamed_file(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // A file system without O_TMPFILE: a named file, unlinked at once.
  std::string name = folder + "/.velmora-level.XXXXXX";
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0)
    return base::failed("cannot make a level's file in " + folder + " (" + std::strerror(errno) +
                        ")");
  ::unlink(name.c_str());
  return fd;
}

}  // namespace

TiffPyramid::TiffPyramid(strips::Cut cut, TiffCompression compression)
    : cut_(cut), compression_(compression) {}

TiffPyramid::~TiffPyramid() {
  stop_levels();
  chain_.reset();
  for (Level& level : levels_) {
    level.bands.reset();
    if (level.fd >= 0) ::close(level.fd);
  }
}

base::Result<std::unique_ptr<TiffPyramid>, base::Error> TiffPyramid::open(
    int fd, const std::string& folder, const ImageSize& size, strips::Cut cut,
    TiffCompression compression) {
  auto pyramid = std::make_unique<TiffPyramid>(cut, compression);
  const std::vector<ImageSize> sizes = pyramid_levels(size, tiff_tile_side);
  const int reduced = static_cast<int>(sizes.size()) - 1;
  auto full = TiffBands::open(fd, size, cut, compression, needs_bigtiff(sizes, compression),
                              reduced);
  if (!full) return base::failure(full.error());
  pyramid->full_ = std::move(*full);
  for (int i = 0; i < reduced; ++i) {
    auto file = unnamed_file(folder);
    if (!file) return base::failure(file.error());
    pyramid->levels_.push_back(Level{*file, nullptr});
    const ImageSize& level = sizes[static_cast<size_t>(i) + 1];
    auto bands = TiffBands::open(*file, level, cut, compression, needs_bigtiff(level, compression));
    if (!bands) return base::failure(bands.error());
    pyramid->levels_.back().bands = std::move(*bands);
  }
  TiffPyramid* self = pyramid.get();
  pyramid->chain_ = std::make_unique<LevelChain>(
      cut, sizes, [self](size_t level, const strips::ConstBytePlane& line) {
        return self->levels_[level - 1].bands->add(line);
      });
  if (reduced > 0) pyramid->levels_thread_ = std::thread([self] { self->make_levels(); });
  return pyramid;
}

// At most this many strips wait for the levels' thread: memory stays bounded.
constexpr size_t queued_strips = 2;

void TiffPyramid::make_levels() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) return;
    Copy copy = std::move(queue_.front());
    queue_.pop_front();
    const bool failed = error_.has_value();
    lock.unlock();
    if (!failed) {
      const strips::ConstBytePlane strip{copy.bytes.data(), copy.width, copy.height, copy.width};
      if (base::Status ok = chain_->add(strip); !ok) {
        lock.lock();
        error_ = ok.error();
        lock.unlock();
      }
    }
    lock.lock();
    spare_.push_back(std::move(copy));
    changed_.notify_all();
  }
}

void TiffPyramid::stop_levels() {
  if (!levels_thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  levels_thread_.join();
}

base::Status TiffPyramid::add(const strips::ConstBytePlane& strip) {
  if (levels_.empty()) return full_->add(strip);
  // Copied first, so that the levels' thread works while the full image is compressed.
  Copy copy;
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < queued_strips || error_.has_value(); });
    if (error_) return base::failure(*error_);
    if (!spare_.empty()) {
      copy = std::move(spare_.front());
      spare_.pop_front();
    }
  }
  copy.width = strip.width;
  copy.height = strip.height;
  copy.bytes.resize(static_cast<size_t>(strip.width * strip.height));
  for (int64_t y = 0; y < strip.height; ++y)
    std::memcpy(copy.bytes.data() + y * strip.width, strip.pixels + y * strip.stride,
                static_cast<size_t>(strip.width));
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(copy));
  }
  changed_.notify_all();
  return full_->add(strip);
}

base::Status TiffPyramid::finish() {
  if (levels_.empty()) return full_->finish();
  stop_levels();
  if (error_) return base::failure(*error_);
  if (base::Status ok = chain_->finish(); !ok) return ok;
  for (Level& level : levels_)
    if (base::Status ok = level.bands->finish(); !ok) return ok;
  if (base::Status ok = full_->end_image(); !ok) return ok;
  for (Level& level : levels_) {
    level.bands.reset();
    if (base::Status ok = full_->append_level(level.fd, compression_); !ok) return ok;
    ::close(level.fd);
    level.fd = -1;
  }
  return full_->close();
}

}  // namespace scan
