// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/selections.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <vector>

#include "base/text.h"
#include "scan/slit/imagej_roi.h"

namespace scan {
namespace {

// A selection file is a few kilobytes and a set of them rarely a megabyte.
constexpr std::streamsize largest = 64 << 20;

base::Result<std::vector<uint8_t>, base::Error> read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return base::failed("cannot be read");
  std::vector<uint8_t> bytes(static_cast<size_t>(largest) + 1);
  file.read(reinterpret_cast<char*>(bytes.data()), largest + 1);
  if (file.bad()) return base::failed("cannot be read");
  bytes.resize(static_cast<size_t>(file.gcount()));
  if (bytes.size() > static_cast<size_t>(largest)) return base::failed("too large");
  return bytes;
}

LineSpec line_of(const LineSpec& given, const RoiLine& roi) {
  LineSpec line = given;
  line.from.clear();
  for (const Point& p : roi.path) {
    line.from.push_back({p.x, false});
    line.from.push_back({p.y, false});
  }
  line.roi_width = roi.width;
  line.name = roi.name;
  return line;
}

}  // namespace

base::Result<Request, base::Error> with_selections(const Request& o) {
  Request read = o;
  read.lines.clear();
  read.order.clear();
  // Lines keep their order among the slits; a set's selections take its place, in turn.
  for (const auto& [is_line, index] : o.order) {
    if (!is_line) {
      read.order.push_back({false, index});
      continue;
    }
    const LineSpec& line = o.lines[index];
    std::vector<LineSpec> made;
    if (line.roi_file.empty()) {
      made.push_back(line);
    } else {
      auto bytes = read_file(line.roi_file);
      if (!bytes) return base::failure(bytes.error().within(line.text + ": "));
      if (base::ends_with_ignoring_case(line.roi_file, ".zip")) {
        auto set = parse_roi_set(*bytes);
        if (!set) return base::failure(set.error().within(line.text + ": "));
        for (const RoiLine& roi : *set) made.push_back(line_of(line, roi));
        for (LineSpec& each : made) each.text += " (" + each.name + ")";
      } else {
        auto roi = parse_imagej_roi(*bytes);
        if (!roi) return base::failure(roi.error().within(line.text + ": "));
        made.push_back(line_of(line, *roi));
      }
    }
    for (LineSpec& each : made) {
      read.order.push_back({true, read.lines.size()});
      read.lines.push_back(std::move(each));
    }
  }
  // A set's slits are known only now: OUTPUT numbers them with %d, or names them with %n.
  // Without a set the command line has checked OUTPUT; an image kept in memory has none.
  const bool sets = std::any_of(o.lines.begin(), o.lines.end(), [](const LineSpec& line) {
    return base::ends_with_ignoring_case(line.roi_file, ".zip");
  });
  if (!sets || o.output.empty()) return read;
  const bool numbered = o.output.find("%d") != std::string::npos;
  const bool named = !numbered && o.output.find("%n") != std::string::npos;
  if (read.order.size() > 1 && !numbered && !named)
    return base::failed(o.output + ": several slits need %d or %n in OUTPUT");
  if (read.order.size() <= 1 && (numbered || named))
    return base::failed(o.output + ": %d and %n in OUTPUT are for several slits; there is one");
  const std::string mark = numbered ? "%d" : "%n";
  if (read.order.size() > 1 && !o.timeline.empty() && o.timeline.find(mark) == std::string::npos)
    return base::failed("--timeline " + o.timeline + ": several slits need " + mark +
                        " in its name too");
  if (named) {
    std::set<std::string> names;
    for (const auto& [is_line, index] : read.order)
      if (!is_line || read.lines[index].name.empty() || !names.insert(read.lines[index].name).second)
        return base::failed(o.output + ": %n needs a selection of its own name for each slit");
  }
  return read;
}

Request with_selection_width(Request o) {
  if (!o.thickness_given && o.lines.size() == 1 && o.lines[0].roi_width > 1)
    o.thickness = std::lround(o.lines[0].roi_width);
  return o;
}

}  // namespace scan
