// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/output/output_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "base/text.h"

namespace scan {
namespace {

namespace fs = std::filesystem;

std::string folder_of(const std::string& output) {
  fs::path parent = fs::path(output).parent_path();
  return parent.empty() ? "." : parent.string();
}

std::string errno_text(int code) { return std::strerror(code); }

// ".OUTPUT.png.XXXXXX" beside OUTPUT, fitting wherever OUTPUT fits (NAME_MAX for the
// name, PATH_MAX for the path): OUTPUT's name is cut short where needed, between two UTF-8
// characters. It is hidden and made unique by mkstemp, and only hints at what it becomes.
std::string temp_pattern(const std::string& output) {
  std::string base = fs::path(output).filename().string();
  const std::string folder = output.substr(0, output.size() - base.size());
  const std::string tail = ".XXXXXX";
  const size_t added = 1 + tail.size();  // the dot in front and the tail
  const size_t path_left =
      PATH_MAX - 1 > folder.size() + added ? PATH_MAX - 1 - folder.size() - added : 0;
  size_t room = std::min<size_t>(NAME_MAX - added, path_left);
  if (base.size() > room) {
    while (room > 0 && (static_cast<unsigned char>(base[room]) & 0xC0) == 0x80) --room;
    base.resize(room);
  }
  return folder + "." + base + tail;
}

}  // namespace

std::optional<Format> output_format(const std::string& output) {
  const std::string name = fs::path(output).filename().string();
  // A name that is nothing but the ending is a hidden file, not an image.
  auto ends_in = [&](std::string_view tail) {
    return name.size() > tail.size() && base::ends_with_ignoring_case(name, tail);
  };
  if (ends_in(".png")) return Format::png;
  if (ends_in(".tif") || ends_in(".tiff")) return Format::tiff;
  if (ends_in(".dzi")) return Format::dzi;
  if (ends_in(".jpg") || ends_in(".jpeg")) return Format::jpeg;
  if (ends_in(".webp")) return Format::webp;
  return std::nullopt;
}

base::Status check_output(const std::string& output, bool force) {
  const std::string folder = folder_of(output);
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) {
    // Only ENOENT means missing; a name too long, a file in the way or a folder that may
    // not be searched is told by its own words.
    if (errno == ENOENT) return base::failed(output + ": the folder " + folder + " does not exist");
    return base::failed(output + ": cannot reach the folder " + folder + " (" + errno_text(errno) + ")");
  }
  if (!S_ISDIR(st.st_mode)) return base::failed(output + ": " + folder + " is not a folder");
  if (access(folder.c_str(), W_OK | X_OK) != 0)
    return base::failed(output + ": cannot write in the folder " + folder + " (" + errno_text(errno) + ")");
  if (lstat(output.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return base::failed(output + ": is a folder");
    if (!force) return base::failed(output + ": already exists; use --force to overwrite it");
  } else if (errno != ENOENT) {
    return base::failed(output + ": cannot be written (" + errno_text(errno) + ")");
  }
  return {};
}

TempOutput::~TempOutput() {
  if (!committed_) discard();
}

base::Status TempOutput::create() {
  std::string pattern = temp_pattern(output_);
  int fd = mkstemp(pattern.data());
  if (fd < 0)
    return base::failed(output_ + ": cannot write in the folder " + folder_of(output_) + " (" +
                        errno_text(errno) + ")");
  temp_ = pattern;
  // mkstemp makes it private; the finished image gets the usual mode.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  stream_ = fdopen(fd, "wb");
  if (stream_ == nullptr) {
    int code = errno;
    close(fd);
    unlink(temp_.c_str());
    temp_.clear();
    return base::failed(output_ + ": cannot write (" + errno_text(code) + ")");
  }
  return {};
}

base::Status TempOutput::seal() {
  if (sealed_) return {};
  if (stream_ == nullptr) return base::failed(output_ + ": cannot write (the file was not made)");
  std::string failure;
  struct stat st {};
  if (std::fflush(stream_) != 0 || fsync(fileno(stream_)) != 0)
    failure = output_ + ": cannot write (" + errno_text(errno) + ")";
  else if (fstat(fileno(stream_), &st) == 0)
    bytes_ = st.st_size;
  if (std::fclose(stream_) != 0 && failure.empty())
    failure = output_ + ": cannot write (" + errno_text(errno) + ")";
  stream_ = nullptr;
  if (!failure.empty()) return base::failed(failure);
  sealed_ = true;
  return {};
}

base::Status TempOutput::commit(bool force) {
  if (base::Status ok = seal(); !ok) return ok;
  // Without --force an OUTPUT that appeared meanwhile is not replaced either.
  int flags = force ? 0 : RENAME_NOREPLACE;
  int done = renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, output_.c_str(), flags);
  if (done != 0 && errno == EINVAL && !force) {
    // A file system without RENAME_NOREPLACE: look, then rename.
    struct stat st {};
    if (lstat(output_.c_str(), &st) == 0)
      errno = EEXIST;
    else
      done = rename(temp_.c_str(), output_.c_str());
  }
  if (done != 0) {
    if (errno == EEXIST) return base::failed(output_ + ": already exists; use --force to overwrite it");
    return base::failed(output_ + ": cannot put the image in place (" + errno_text(errno) + ")");
  }
  committed_ = true;
  temp_.clear();
  // The rename itself lasts once the folder is synced too.
  if (int folder = open(folder_of(output_).c_str(), O_RDONLY | O_DIRECTORY); folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return {};
}

void TempOutput::discard() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
}

std::string dzi_files_folder(const std::string& output) {
  return output.substr(0, output.size() - 4) + "_files";
}

TempFolder::~TempFolder() {
  if (!committed_) discard();
}

base::Status TempFolder::create() {
  std::string pattern = temp_pattern(target_);
  if (mkdtemp(pattern.data()) == nullptr)
    return base::failed(target_ + ": cannot write in the folder " + folder_of(target_) + " (" +
                        errno_text(errno) + ")");
  temp_ = pattern;
  // mkdtemp makes it private; the finished folder gets the usual mode.
  mode_t mask = umask(0);
  umask(mask);
  chmod(temp_.c_str(), 0777 & ~mask);
  return {};
}

base::Status TempFolder::seal() {
  const int fd = open(temp_.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0 || syncfs(fd) != 0) {
    const int code = errno;
    if (fd >= 0) close(fd);
    return base::failed(target_ + ": cannot write (" + errno_text(code) + ")");
  }
  close(fd);
  return {};
}

base::Status TempFolder::commit(bool force) {
  // A folder cannot replace another that holds files: the old one goes aside first, and is
  // removed once the new one is in place.
  std::string aside;
  struct stat st {};
  if (lstat(target_.c_str(), &st) == 0) {
    if (!force) return base::failed(target_ + ": already exists; use --force to overwrite it");
    aside = temp_ + ".old";
    if (rename(target_.c_str(), aside.c_str()) != 0)
      return base::failed(target_ + ": cannot put the tiles in place (" + errno_text(errno) + ")");
  }
  int done = renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE);
  if (done != 0 && errno == EINVAL) done = rename(temp_.c_str(), target_.c_str());
  if (done != 0) {
    const int code = errno;
    if (!aside.empty()) rename(aside.c_str(), target_.c_str());
    return base::failed(target_ + ": cannot put the tiles in place (" + errno_text(code) + ")");
  }
  committed_ = true;
  temp_.clear();
  std::error_code ignored;
  if (!aside.empty()) fs::remove_all(aside, ignored);
  if (int folder = open(folder_of(target_).c_str(), O_RDONLY | O_DIRECTORY); folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return {};
}

void TempFolder::discard() {
  std::error_code ignored;
  if (!temp_.empty()) fs::remove_all(temp_, ignored);
  temp_.clear();
}

}  // namespace scan
