// SPDX-License-Identifier: GPL-3.0-or-later
// The one place tests and fuzzers keep their files: a folder under /tmp of their own,
// removed when the process that made it ends.
#pragma once
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace velmora_test {

class ScratchFolder {
 public:
  // `prefix` names the folder; a process without its folder cannot run.
  explicit ScratchFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  // A child forked by a death test leaves the folder to its parent.
  ~ScratchFolder() {
    if (::getpid() != owner_) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  pid_t owner_ = ::getpid();
};

// The folder of this test process.
inline const std::filesystem::path& scratch_dir() {
  static const ScratchFolder folder("velmora-test");
  return folder.path();
}

// A path in it.
inline std::string scratch_path(const std::string& name) { return (scratch_dir() / name).string(); }

// A fresh, empty folder in it for one test.
inline std::string fresh_folder(const std::string& name) {
  const std::filesystem::path folder = scratch_dir() / name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder.string();
}

}  // namespace velmora_test
