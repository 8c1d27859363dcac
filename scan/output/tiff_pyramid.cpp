// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/output/tiff_pyramid.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace scan {
namespace {

// A file without a name in `folder`: nothing of it outlives the run, however it ends.
base::Result<int, std::string> unnamed_file(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // A file system without O_TMPFILE: a named file, unlinked at once.
  std::string name = folder + "/.velmora-level.XXXXXX";
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0)
    return base::failure("cannot make a level's file in " + folder + " (" + std::strerror(errno) +
                         ")");
  ::unlink(name.c_str());
  return fd;
}

}  // namespace

TiffPyramid::TiffPyramid(strips::Cut cut, TiffCompression compression)
    : cut_(cut), compression_(compression) {}

TiffPyramid::~TiffPyramid() {
  chain_.reset();
  for (Level& level : levels_) {
    level.bands.reset();
    if (level.fd >= 0) ::close(level.fd);
  }
}

base::Result<std::unique_ptr<TiffPyramid>, std::string> TiffPyramid::open(
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
  return pyramid;
}

base::Status TiffPyramid::add(const strips::ConstBytePlane& strip) {
  if (base::Status ok = full_->add(strip); !ok) return ok;
  return chain_->add(strip);
}

base::Status TiffPyramid::finish() {
  if (levels_.empty()) return full_->finish();
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
