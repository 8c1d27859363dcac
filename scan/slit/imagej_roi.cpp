// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/slit/imagej_roi.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include <zlib.h>

namespace scan {
namespace {

// Places in the 64-byte header; numbers are big-endian.
constexpr size_t header_size = 64, version_at = 4, type_at = 6, top_at = 8, left_at = 10,
                 count_at = 16, x1_at = 18, y1_at = 22, x2_at = 26, y2_at = 30,
                 stroke_at = 34, shape_at = 36, options_at = 50, header2_at = 60;
// In the second header: the name's place and length (in UTF-16 units).
constexpr size_t name_offset_at = 16, name_length_at = 20;
constexpr int spline_fit = 1, sub_pixel = 128;

enum Kind { polygon, rect, oval, line, freeline, polyline, no_roi, freehand, traced, angle, point };

const char* kind_name(int kind) {
  switch (kind) {
    case polygon: return "a polygon";
    case rect: return "a rectangle";
    case oval: return "an oval";
    case no_roi: return "no selection";
    case freehand: return "a freehand area";
    case traced: return "a traced area";
    case angle: return "an angle";
    case point: return "a point selection";
    default: return nullptr;
  }
}

struct Reader {
  std::span<const uint8_t> b;
  bool has(size_t at, size_t n) const { return at <= b.size() && n <= b.size() - at; }
  uint16_t u16(size_t at) const { return uint16_t(b[at] << 8 | b[at + 1]); }
  int32_t i32(size_t at) const {
    return static_cast<int32_t>(uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 |
                                uint32_t(b[at + 2]) << 8 | b[at + 3]);
  }
  float f32(size_t at) const { return std::bit_cast<float>(static_cast<uint32_t>(i32(at))); }
  // A coordinate stored as a short: ImageJ writes those past 32767 unsigned, and no
  // selection reaches below -5000.
  int coordinate(size_t at) const {
    const int v = static_cast<int16_t>(u16(at));
    return v < -5000 ? u16(at) : v;
  }
};

base::Result<RoiLine, std::string> damaged(const std::string& why) {
  return base::failure("damaged selection file: " + why);
}

}  // namespace

base::Result<RoiLine, std::string> parse_imagej_roi(std::span<const uint8_t> bytes) {
  const Reader r{bytes};
  if (!r.has(0, header_size) || bytes[0] != 'I' || bytes[1] != 'o' || bytes[2] != 'u' ||
      bytes[3] != 't')
    return base::failure(std::string("not an ImageJ selection file (.roi)"));
  const int version = r.u16(version_at), kind = bytes[type_at];
  if (const char* other = kind_name(kind))
    return base::failure(std::string("the selection is ") + other + ", not a line");
  if (kind > point) return damaged("unknown kind " + std::to_string(kind));
  if (r.i32(shape_at) != 0) return base::failure(std::string("the selection is a composite shape, not a line"));
  const int options = r.u16(options_at);
  RoiLine roi;
  roi.width = r.u16(stroke_at);
  if (kind == line) {
    roi.path = {{r.f32(x1_at), r.f32(y1_at)}, {r.f32(x2_at), r.f32(y2_at)}};
  } else {
    if (options & spline_fit)
      return base::failure(std::string("the line is spline-fitted; velmora-scan takes its points only unfitted"));
    const size_t n = r.u16(count_at);
    if (n < 2) return damaged("a line of " + std::to_string(n) + " point(s)");
    const bool subpixel = version >= 222 && (options & sub_pixel) != 0;
    if (!r.has(header_size, n * 4 + (subpixel ? n * 8 : 0)))
      return damaged("the file ends inside its " + std::to_string(n) + " points");
    const int top = static_cast<int16_t>(r.u16(top_at)), left = static_cast<int16_t>(r.u16(left_at));
    for (size_t i = 0; i < n; ++i) {
      if (subpixel)
        roi.path.push_back({r.f32(header_size + 4 * n + 4 * i), r.f32(header_size + 8 * n + 4 * i)});
      else
        roi.path.push_back({double(left + r.coordinate(header_size + 2 * i)),
                            double(top + r.coordinate(header_size + 2 * n + 2 * i))});
    }
  }
  for (const Point& p : roi.path)
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || p.x < 0 || p.y < 0)
      return damaged("a point outside the picture");
  // The name, from the second header, where there is one.
  const int32_t second = r.i32(header2_at);
  if (second > 0 && r.has(static_cast<size_t>(second), 64)) {
    const int32_t at = r.i32(static_cast<size_t>(second) + name_offset_at);
    const int32_t length = r.i32(static_cast<size_t>(second) + name_length_at);
    if (at > 0 && length > 0 && r.has(static_cast<size_t>(at), static_cast<size_t>(length) * 2)) {
      for (int32_t i = 0; i < length; ++i) {
        const uint16_t c = r.u16(static_cast<size_t>(at) + 2 * static_cast<size_t>(i));
        roi.name += c >= 0x20 && c < 0x7f && c != '/' ? static_cast<char>(c) : '_';
      }
    }
  }
  return roi;
}

namespace {

// Little-endian numbers of a zip archive.
uint32_t le(std::span<const uint8_t> b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<size_t>(i)];
  return v;
}

// A selection file is a few kilobytes; an entry far larger is not one.
constexpr uint32_t largest_entry = 16 << 20;

base::Result<std::vector<uint8_t>, std::string> entry_bytes(std::span<const uint8_t> zip,
                                                            uint32_t local, uint32_t method,
                                                            uint32_t packed, uint32_t size) {
  const Reader r{zip};
  if (!r.has(local, 30) || le(zip, local, 4) != 0x04034b50) return base::failure(std::string("its entry header is damaged"));
  const size_t data = local + 30 + le(zip, local + 26, 2) + le(zip, local + 28, 2);
  if (!r.has(data, packed)) return base::failure(std::string("the archive ends inside it"));
  if (size > largest_entry) return base::failure(std::string("too large for a selection file"));
  std::vector<uint8_t> out(size);
  if (method == 0) {
    if (packed != size) return base::failure(std::string("its sizes disagree"));
    std::copy_n(zip.begin() + static_cast<ptrdiff_t>(data), size, out.begin());
    return out;
  }
  if (method != 8) return base::failure("compressed by method " + std::to_string(method) + ", not deflate");
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return base::failure(std::string("zlib cannot start"));
  z.next_in = const_cast<Bytef*>(zip.data() + data);
  z.avail_in = packed;
  z.next_out = out.data();
  z.avail_out = size;
  const int done = inflate(&z, Z_FINISH);
  const bool whole = done == Z_STREAM_END && z.total_out == size;
  inflateEnd(&z);
  if (!whole) return base::failure(std::string("its data does not inflate to its size"));
  return out;
}

}  // namespace

base::Result<std::vector<RoiLine>, std::string> parse_roi_set(std::span<const uint8_t> zip) {
  // The end record, searched from the end over the longest comment a zip may hold.
  size_t end = zip.size() < 22 ? std::string::npos : zip.size() - 22;
  const size_t lowest = zip.size() > 22 + 65535 ? zip.size() - 22 - 65535 : 0;
  while (end != std::string::npos && end >= lowest && le(zip, end, 4) != 0x06054b50)
    end = end == 0 ? std::string::npos : end - 1;
  if (end == std::string::npos || end < lowest)
    return base::failure(std::string("not a zip archive of ImageJ selections"));
  const Reader r{zip};
  const uint32_t count = le(zip, end + 10, 2), directory = le(zip, end + 16, 4);
  std::vector<RoiLine> lines;
  size_t at = directory;
  for (uint32_t i = 0; i < count; ++i) {
    if (!r.has(at, 46) || le(zip, at, 4) != 0x02014b50)
      return base::failure(std::string("damaged zip archive: its directory breaks off"));
    const uint32_t name_length = le(zip, at + 28, 2);
    if (!r.has(at + 46, name_length))
      return base::failure(std::string("damaged zip archive: its directory breaks off"));
    std::string entry(zip.begin() + static_cast<ptrdiff_t>(at + 46),
                      zip.begin() + static_cast<ptrdiff_t>(at + 46 + name_length));
    auto bytes = entry_bytes(zip, le(zip, at + 42, 4), le(zip, at + 10, 2), le(zip, at + 20, 4),
                             le(zip, at + 24, 4));
    at += 46 + name_length + le(zip, at + 30, 2) + le(zip, at + 32, 2);
    if (!entry.empty() && entry.back() == '/') continue;  // a folder
    if (!bytes) return base::failure(entry + ": " + bytes.error());
    auto line = parse_imagej_roi(*bytes);
    if (!line) return base::failure(entry + ": " + line.error());
    if (line->name.empty()) {
      std::string stem = entry.substr(entry.rfind('/') + 1);
      if (stem.size() > 4 && stem.ends_with(".roi")) stem.resize(stem.size() - 4);
      for (char& c : stem)
        if (c < 0x20 || c >= 0x7f) c = '_';
      line->name = stem;
    }
    lines.push_back(std::move(*line));
  }
  if (lines.empty()) return base::failure(std::string("the archive holds no selection"));
  return lines;
}

}  // namespace scan
