// A fuzzer's own folder under /tmp for the files it writes, removed when the fuzzer exits.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace fuzzing {

class ScratchFolder {
 public:
  // `pattern` ends in XXXXXX, as mkdtemp wants; a fuzzer without its folder cannot run.
  explicit ScratchFolder(std::string pattern) : path_(std::move(pattern)) {
    if (::mkdtemp(path_.data()) == nullptr) std::abort();
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace fuzzing
