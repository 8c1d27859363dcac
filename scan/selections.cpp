// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/selections.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <vector>

#include "scan/slit/imagej_roi.h"

namespace scan {
namespace {

// A selection file is a few kilobytes; anything far larger is not one.
constexpr std::streamsize largest = 16 << 20;

base::Result<RoiLine, std::string> read_selection(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return base::failure(std::string("cannot be read"));
  std::vector<uint8_t> bytes;
  bytes.resize(static_cast<size_t>(largest) + 1);
  file.read(reinterpret_cast<char*>(bytes.data()), largest + 1);
  if (file.bad()) return base::failure(std::string("cannot be read"));
  bytes.resize(static_cast<size_t>(file.gcount()));
  if (bytes.size() > static_cast<size_t>(largest))
    return base::failure(std::string("too large for a selection file"));
  return parse_imagej_roi(bytes);
}

}  // namespace

base::Result<Options, std::string> with_selections(const Options& o) {
  Options read = o;
  for (LineSpec& line : read.lines) {
    if (line.roi_file.empty()) continue;
    auto roi = read_selection(line.roi_file);
    if (!roi) return base::failure(line.text + ": " + roi.error());
    line.from.clear();
    for (const Point& p : roi->path) {
      line.from.push_back({p.x, false});
      line.from.push_back({p.y, false});
    }
    // Several selections of other widths are each a run of their own (each_slit).
    if (!o.thickness_given && roi->width > 1) read.thickness = std::lround(roi->width);
  }
  return read;
}

}  // namespace scan
