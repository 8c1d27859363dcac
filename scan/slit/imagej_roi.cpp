// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/slit/imagej_roi.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include <memory>

#include <zip.h>

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

base::Result<RoiLine, base::Error> damaged(const std::string& why) {
  return base::failed("damaged selection file: " + why);
}

}  // namespace

base::Result<RoiLine, base::Error> parse_imagej_roi(std::span<const uint8_t> bytes) {
  const Reader r{bytes};
  if (!r.has(0, header_size) || bytes[0] != 'I' || bytes[1] != 'o' || bytes[2] != 'u' ||
      bytes[3] != 't')
    return base::failed("not an ImageJ selection file (.roi)");
  const int version = r.u16(version_at), kind = bytes[type_at];
  if (const char* other = kind_name(kind))
    return base::failed(std::string("the selection is ") + other + ", not a line");
  if (kind > point) return damaged("unknown kind " + std::to_string(kind));
  if (r.i32(shape_at) != 0) return base::failed("the selection is a composite shape, not a line");
  const int options = r.u16(options_at);
  RoiLine roi;
  roi.width = r.u16(stroke_at);
  if (kind == line) {
    roi.path = {{r.f32(x1_at), r.f32(y1_at)}, {r.f32(x2_at), r.f32(y2_at)}};
  } else {
    if (options & spline_fit)
      return base::failed("the line is spline-fitted; velmora-scan takes its points only unfitted");
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

// A selection file is a few kilobytes; an entry declared far larger is not one.
constexpr zip_uint64_t largest_entry = 1 << 20;

struct ArchiveCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct EntryCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;
using Entry = std::unique_ptr<zip_file_t, EntryCloser>;

// libzip's words for an error code, "damaged zip archive: " before them.
std::string zip_failure(zip_error_t* error) {
  return std::string("damaged zip archive: ") + zip_error_strerror(error);
}
std::string zip_failure(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_failure(&error);
  zip_error_fini(&error);
  return text;
}

// The archive over `zip` (libzip reads it in place, without a copy), or why it is none.
base::Result<Archive, base::Error> open_archive(std::span<const uint8_t> zip) {
  // libzip takes no bytes at all for an empty archive; an empty file is not one here.
  if (zip.empty()) return base::failed("not a zip archive of ImageJ selections");
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(zip.data(), zip.size(), 0, &error);
  if (source == nullptr) {
    std::string text = zip_failure(&error);
    zip_error_fini(&error);
    return base::failed(std::move(text));
  }
  Archive archive(zip_open_from_source(source, ZIP_RDONLY, &error));
  if (!archive) {
    // The source stays ours when the archive does not open.
    zip_source_free(source);
    const bool not_zip = zip_error_code_zip(&error) == ZIP_ER_NOZIP;
    std::string text = not_zip ? std::string("not a zip archive of ImageJ selections") : zip_failure(&error);
    zip_error_fini(&error);
    return base::failed(std::move(text));
  }
  zip_error_fini(&error);
  return archive;
}

std::string unreadable(zip_error_t* error) {
  return std::string("its data cannot be read (") + zip_error_strerror(error) + ")";
}

// Entry `index`'s bytes, checked against the size its directory declares.
base::Result<std::vector<uint8_t>, base::Error> entry_bytes(zip_t* archive, zip_uint64_t index,
                                                            zip_uint64_t size) {
  if (size > largest_entry)
    return base::failed("too large for a selection file (" + std::to_string(size) +
                        " bytes; at most " + std::to_string(largest_entry) + ")");
  const Entry entry(zip_fopen_index(archive, index, 0));
  if (!entry) return base::failed(unreadable(zip_get_error(archive)));
  std::vector<uint8_t> out(static_cast<size_t>(size));
  zip_uint64_t got = 0;
  while (got < size) {
    const zip_int64_t n = zip_fread(entry.get(), out.data() + got, size - got);
    if (n < 0) return base::failed(unreadable(zip_file_get_error(entry.get())));
    if (n == 0) return base::failed("its data ends before its declared size");
    got += static_cast<zip_uint64_t>(n);
  }
  // One read past the end: libzip checks the CRC there, and more data is a lie about the size.
  uint8_t more = 0;
  const zip_int64_t past = zip_fread(entry.get(), &more, 1);
  if (past < 0) return base::failed(unreadable(zip_file_get_error(entry.get())));
  if (past > 0) return base::failed("its data runs past its declared size");
  return out;
}

}  // namespace

base::Result<std::vector<RoiLine>, base::Error> parse_roi_set(std::span<const uint8_t> zip) {
  auto archive = open_archive(zip);
  if (!archive) return base::failure(std::move(archive.error()));
  zip_t* const z = archive->get();
  const zip_int64_t count = zip_get_num_entries(z, 0);
  if (count < 0) return base::failed(zip_failure(zip_get_error(z)));
  std::vector<RoiLine> lines;
  for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    // Raw names: the entry is named in messages and in %n as its bytes stand.
    if (zip_stat_index(z, i, ZIP_FL_ENC_RAW, &st) != 0)
      return base::failed(zip_failure(zip_get_error(z)));
    if ((st.valid & ZIP_STAT_NAME) == 0 || (st.valid & ZIP_STAT_SIZE) == 0)
      return base::failed(zip_failure(ZIP_ER_INCONS));
    const std::string entry = st.name;
    if (!entry.empty() && entry.back() == '/') continue;  // a folder
    auto bytes = entry_bytes(z, i, st.size);
    if (!bytes) return base::failure(bytes.error().within(entry + ": "));
    auto line = parse_imagej_roi(*bytes);
    if (!line) return base::failure(line.error().within(entry + ": "));
    if (line->name.empty()) {
      std::string stem = entry.substr(entry.rfind('/') + 1);
      if (stem.size() > 4 && stem.ends_with(".roi")) stem.resize(stem.size() - 4);
      for (char& c : stem)
        if (c < 0x20 || c >= 0x7f) c = '_';
      line->name = stem;
    }
    lines.push_back(std::move(*line));
  }
  if (lines.empty()) return base::failed("the archive holds no selection");
  return lines;
}

}  // namespace scan
