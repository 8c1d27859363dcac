// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/image_list.h"

#include <dirent.h>
#include <glob.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <regex>
#include <utility>

#include "base/text.h"

namespace scan {
namespace {

bool is_directory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_file(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// One printf conversion for a whole number (%d, %05d), as FFmpeg's image demuxer takes it;
// "%%" stands for a plain percent sign.
const std::regex& printf_number() {
  static const std::regex pattern("%0?[0-9]*d");
  return pattern;
}

// A printf pattern read as FFmpeg's image demuxer reads it: text, each piece followed by
// the number or by nothing.
struct Piece {
  std::string text;
  bool number = false;
  bool zeros = false;  // %05d; %5d pads with blanks, as printf does
  size_t width = 0;
};

// The pieces of `pattern`; none when a % in it is neither "%%" nor a number's conversion,
// which printf would read as something else (a string, a pointer to write to).
std::optional<std::vector<Piece>> read_pattern(const std::string& pattern) {
  std::vector<Piece> pieces(1);
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      pieces.back().text += pattern[i];
      continue;
    }
    if (++i < pattern.size() && pattern[i] == '%') {
      pieces.back().text += '%';
      continue;
    }
    Piece& piece = pieces.back();
    piece.number = true;
    piece.zeros = i < pattern.size() && pattern[i] == '0';
    // No file name is longer than NAME_MAX, so a wider number names none: no need to
    // count further.
    for (; i < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[i])); ++i)
      piece.width = std::min<size_t>(piece.width * 10 + (pattern[i] - '0'), NAME_MAX + 1);
    if (i == pattern.size() || pattern[i] != 'd') return std::nullopt;
    pieces.emplace_back();
  }
  return pieces;
}

std::string with_number(const std::vector<Piece>& pieces, long long number) {
  const std::string digits = std::to_string(number);
  std::string out;
  for (const Piece& piece : pieces) {
    out += piece.text;
    if (!piece.number) continue;
    if (piece.width > digits.size())
      out.append(piece.width - digits.size(), piece.zeros ? '0' : ' ');
    out += digits;
  }
  return out;
}

base::Result<std::vector<std::string>, base::Error> folder_images(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return base::failed(folder + ": " + std::strerror(errno));
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (image_extension(name) && is_file(folder + "/" + name)) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end(), natural_less);
  const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
  for (auto& name : names) name = prefix + name;
  return names;
}

// glob(3) tells of a folder it cannot list only through a function without a context.
thread_local std::string unlisted;

int note_unlisted(const char* path, int error) {
  if (unlisted.empty()) unlisted = std::string(path) + ": " + std::strerror(error);
  return 0;  // go on with the other folders
}

std::vector<std::string> glob_images(const std::string& pattern, std::string& why_none) {
  glob_t found{};
  std::vector<std::string> names;
  unlisted.clear();
  if (glob(pattern.c_str(), 0, note_unlisted, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i)
      if (is_file(found.gl_pathv[i])) names.emplace_back(found.gl_pathv[i]);
  }
  globfree(&found);
  why_none = unlisted;
  std::sort(names.begin(), names.end(), natural_less);
  return names;
}

// Every file of the pattern's folder that the pattern names with some number, in number
// order, whatever the first number and whatever numbers are missing.
base::Result<std::vector<std::string>, base::Error> printf_images(const std::string& pattern) {
  const std::optional<std::vector<Piece>> pieces = read_pattern(pattern);
  if (!pieces)
    return base::failed(pattern + ": a printf pattern takes %d, %0Nd or %Nd for the number "
                                  "and %% for a percent sign, no other %");
  const size_t slash = pattern.rfind('/');
  const std::string folder_part = slash == std::string::npos ? "" : pattern.substr(0, slash);
  const std::string name_part = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  const std::optional<std::vector<Piece>> folder_pieces = read_pattern(folder_part);
  if (!folder_pieces || folder_pieces->size() > 1)
    return base::failed(pattern + ": the number must be in the file's name, not in its folder");
  const std::string folder =
      slash == std::string::npos ? "." : slash == 0 ? "/" : with_number(*folder_pieces, 0);
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr)
    return base::failed(pattern + ": no image found; cannot list " + folder + ": " +
                        std::strerror(errno));
  std::vector<std::pair<long long, std::string>> numbered;
  const std::string prefix = slash == std::string::npos ? "" : folder + (slash == 0 ? "" : "/");
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (std::optional<long long> n = pattern_number(name_part, name);
        n && is_file(prefix + name))
      numbered.emplace_back(*n, prefix + name);
  }
  closedir(dir);
  std::sort(numbered.begin(), numbered.end());
  std::vector<std::string> names;
  for (auto& [n, name] : numbered) names.push_back(std::move(name));
  return names;
}

}  // namespace

SequenceKind sequence_kind(const std::string& input) {
  if (input == "-" || input.find("://") != std::string::npos) return SequenceKind::none;
  if (is_directory(input)) return SequenceKind::folder;
  if (is_file(input)) return SequenceKind::none;
  // "%%d" is a percent sign and a d: numbered names need a number in them.
  const std::optional<std::vector<Piece>> pieces = read_pattern(input);
  if (pieces ? pieces->size() > 1 : std::regex_search(input, printf_number()))
    return SequenceKind::printf;
  if (input.find_first_of("*?[") != std::string::npos) return SequenceKind::glob;
  return SequenceKind::none;
}

bool natural_less(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = std::isdigit(static_cast<unsigned char>(a[i]));
    const bool db = std::isdigit(static_cast<unsigned char>(b[j]));
    if (da && db) {
      size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      // By value: leading zeros aside, the longer run is the larger number.
      size_t zi = i, zj = j;
      while (zi + 1 < ei && a[zi] == '0') ++zi;
      while (zj + 1 < ej && b[zj] == '0') ++zj;
      if (ei - zi != ej - zj) return ei - zi < ej - zj;
      if (int c = a.compare(zi, ei - zi, b, zj, ej - zj); c != 0) return c < 0;
      // Equal values: fewer leading zeros first, so that the order is total.
      if (ei - i != ej - j) return ei - i < ej - j;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

std::optional<long long> pattern_number(const std::string& pattern, const std::string& name) {
  const std::optional<std::vector<Piece>> pieces = read_pattern(pattern);
  if (!pieces || pieces->size() < 2) return std::nullopt;
  const std::string& prefix = pieces->front().text;
  if (!name.starts_with(prefix)) return std::nullopt;
  size_t start = prefix.size();
  while (start < name.size() && name[start] == ' ') ++start;  // "%5d" pads with blanks
  size_t end = start;
  // Up to 18 digits: a long long holds them all.
  while (end < name.size() && end - start < 18 &&
         std::isdigit(static_cast<unsigned char>(name[end])))
    ++end;
  if (end == start) return std::nullopt;
  const long long number = std::stoll(name.substr(start, end - start));
  // Leading zeros, padding and the rest of the name exactly as the pattern writes them.
  if (with_number(*pieces, number) != name) return std::nullopt;
  return number;
}

bool image_extension(const std::string& name) {
  for (const char* known : {".jpg", ".jpeg", ".png", ".tif", ".tiff", ".webp", ".bmp"})
    if (base::ends_with_ignoring_case(name, known)) return true;
  return false;
}

base::Result<std::vector<std::string>, base::Error> list_images(const std::string& input,
                                                                SequenceKind kind) {
  std::vector<std::string> names;
  if (kind == SequenceKind::folder) {
    auto listed = folder_images(input);
    if (!listed) return base::failure(listed.error());
    names = std::move(*listed);
  } else if (kind == SequenceKind::glob) {
    std::string why_none;
    names = glob_images(input, why_none);
    if (names.empty() && !why_none.empty())
      return base::failed(input + ": no image found; cannot list " + why_none);
  } else if (kind == SequenceKind::printf) {
    auto listed = printf_images(input);
    if (!listed) return base::failure(listed.error());
    names = std::move(*listed);
  }
  // A folder is read as a sequence of images: one without any is named as a folder.
  if (names.empty() && kind == SequenceKind::folder)
    return base::failed(input + ": is a folder holding no image (jpg, jpeg, png, tif, tiff, "
                                "webp, bmp)");
  if (names.empty())
    return base::failed(input + ": no image (jpg, jpeg, png, tif, tiff, webp, bmp) found");
  return names;
}

}  // namespace scan
