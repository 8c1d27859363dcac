// SPDX-License-Identifier: GPL-3.0-or-later
// OUTPUT is written under a temporary name in its own folder (so the rename that puts
// it in place is atomic), synced, and renamed when complete; on any failure the temporary
// file is removed and OUTPUT is left as it was.
#pragma once
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "base/result.h"

namespace scan {

enum class Format { png, tiff, dzi, jpeg, webp };

// By OUTPUT's name: .png, .tif or .tiff, .dzi, .jpg or .jpeg, .webp (in any case); nothing
// for any other name.
std::optional<Format> output_format(const std::string& output);

// Checks OUTPUT before anything is decoded: its folder, and that it does not exist unless
// `force`.
base::Status check_output(const std::string& output, bool force);

class TempOutput {
 public:
  explicit TempOutput(std::string output) : output_(std::move(output)) {}
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;
  // Removes the temporary file unless it was committed.
  ~TempOutput();

  // Creates the temporary file.
  base::Status create();
  std::FILE* stream() const { return stream_; }
  const std::string& temp_path() const { return temp_; }
  // OUTPUT: the name it lands under.
  const std::string& target() const { return output_; }
  // Flushes, syncs and closes the file: all that may fail in writing it, so that several
  // outputs can be sealed before any is renamed. Nothing to do once done.
  base::Status seal();
  // The file's size, once sealed.
  int64_t bytes() const { return bytes_; }
  // Seals the file and renames it to OUTPUT (replacing it only when `force`).
  base::Status commit(bool force);
  // Closes and removes the temporary file.
  void discard();

 private:
  std::string output_;
  std::string temp_;
  std::FILE* stream_ = nullptr;
  bool sealed_ = false;
  int64_t bytes_ = 0;
  bool committed_ = false;
};

// Deep Zoom's tiles folder beside NAME.dzi: NAME_files.
std::string dzi_files_folder(const std::string& output);

// A folder written under a hidden temporary name beside its target and renamed when
// complete; removed with all it holds on any failure.
class TempFolder {
 public:
  explicit TempFolder(std::string target) : target_(std::move(target)) {}
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();

  base::Status create();
  const std::string& temp_path() const { return temp_; }
  const std::string& target() const { return target_; }
  // Syncs what the folder holds (its file system, at once).
  base::Status seal();
  // Renames it to its target; one already there is replaced only when `force`.
  base::Status commit(bool force);
  // Removes the temporary folder and all it holds.
  void discard();

 private:
  std::string target_;
  std::string temp_;
  bool committed_ = false;
};

}  // namespace scan
