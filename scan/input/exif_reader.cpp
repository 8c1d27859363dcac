// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/exif_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace scan {
namespace {

uint32_t big_endian32(const uint8_t* b) {
  return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

uint32_t little_endian32(const uint8_t* b) {
  return uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
}

constexpr uint16_t tag_orientation = 0x0112;
constexpr uint16_t tag_exif_ifd = 0x8769;
constexpr uint16_t tag_date_time_original = 0x9003;
constexpr uint16_t tag_offset_time_original = 0x9011;
constexpr uint16_t tag_subsec_time_original = 0x9291;
constexpr uint16_t type_ascii = 2, type_short = 3, type_long = 4, type_ifd = 13;

// A TIFF structure: every offset counts from its first byte.
class Tiff {
 public:
  explicit Tiff(std::span<const uint8_t> bytes) : b_(bytes) {}

  bool header(uint32_t& first_ifd) {
    if (b_.size() < 8) return false;
    if (std::memcmp(b_.data(), "II", 2) == 0) {
      big_ = false;
    } else if (std::memcmp(b_.data(), "MM", 2) == 0) {
      big_ = true;
    } else {
      return false;
    }
    if (u16(2) != 42) return false;
    first_ifd = u32(4);
    return true;
  }

  // One directory entry: where its 12 bytes start.
  struct Entry {
    uint16_t type = 0;
    uint32_t count = 0;
    size_t at = 0;
  };

  // The first entry of `tag` in the directory at `ifd`, as far as its bytes go.
  std::optional<Entry> find(uint32_t ifd, uint16_t tag) const {
    if (ifd > b_.size() || b_.size() - ifd < 2) return std::nullopt;
    const size_t entries = std::min<size_t>(u16(ifd), (b_.size() - ifd - 2) / 12);
    for (size_t i = 0; i < entries; ++i) {
      const size_t at = ifd + 2 + 12 * i;
      if (u16(at) == tag) return Entry{u16(at + 2), u32(at + 4), at};
    }
    return std::nullopt;
  }

  std::optional<int> orientation(uint32_t ifd) const {
    const std::optional<Entry> e = find(ifd, tag_orientation);
    if (!e || e->type != type_short || e->count != 1) return std::nullopt;
    const int value = u16(e->at + 8);
    if (value < 1 || value > 8) return std::nullopt;
    return value;
  }

  std::optional<uint32_t> exif_ifd(uint32_t ifd) const {
    const std::optional<Entry> e = find(ifd, tag_exif_ifd);
    if (!e || (e->type != type_long && e->type != type_ifd) || e->count != 1) return std::nullopt;
    return u32(e->at + 8);
  }

  // An ASCII entry's text up to its first NUL, trailing blanks dropped.
  std::optional<std::string> text(uint32_t ifd, uint16_t tag) const {
    const std::optional<Entry> e = find(ifd, tag);
    if (!e || e->type != type_ascii) return std::nullopt;
    const size_t value = e->count <= 4 ? e->at + 8 : u32(e->at + 8);
    if (value > b_.size() || b_.size() - value < e->count) return std::nullopt;
    const char* chars = reinterpret_cast<const char*>(b_.data() + value);
    std::string s(chars, strnlen(chars, e->count));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }

 private:
  uint16_t u16(size_t at) const {
    return static_cast<uint16_t>(big_ ? b_[at] << 8 | b_[at + 1] : b_[at + 1] << 8 | b_[at]);
  }
  uint32_t u32(size_t at) const {
    return big_ ? big_endian32(&b_[at]) : little_endian32(&b_[at]);
  }

  std::span<const uint8_t> b_;
  bool big_ = false;
};

// JPEG: markers from SOI up to the first scan; the first APP1 that holds EXIF.
std::optional<std::span<const uint8_t>> jpeg_exif(std::span<const uint8_t> file) {
  size_t at = 2;
  while (file.size() - at >= 4 && file[at] == 0xff) {
    const uint8_t code = file[at + 1];
    if (code == 0xda || code == 0xd9) break;
    const size_t length = size_t{file[at + 2]} << 8 | file[at + 3];
    if (length < 2 || length > file.size() - at - 2) break;
    const std::span<const uint8_t> payload = file.subspan(at + 4, length - 2);
    if (code == 0xe1 && payload.size() >= 6 && std::memcmp(payload.data(), "Exif\0\0", 6) == 0)
      return payload;
    at += 2 + length;
  }
  return std::nullopt;
}

// PNG: a signature, then chunks of a 4-byte big-endian length, a type, the data and a CRC.
std::optional<std::span<const uint8_t>> png_exif(std::span<const uint8_t> file) {
  size_t at = 8;
  while (file.size() - at >= 12) {
    const uint32_t length = big_endian32(&file[at]);
    const uint8_t* type = &file[at + 4];
    if (length > file.size() - at - 12) return std::nullopt;
    if (std::memcmp(type, "eXIf", 4) == 0) return file.subspan(at + 8, length);
    if (std::memcmp(type, "IEND", 4) == 0) return std::nullopt;
    at += size_t{length} + 12;
  }
  return std::nullopt;
}

// WebP: "RIFF", the size of what follows, "WEBP", then chunks of a type, a 4-byte
// little-endian size and the data, padded to an even size.
std::optional<std::span<const uint8_t>> webp_exif(std::span<const uint8_t> file) {
  // A RIFF size smaller than the file ends it there; a larger one is a cut-off file.
  const uint64_t riff_end = uint64_t{little_endian32(&file[4])} + 8;
  file = file.first(static_cast<size_t>(std::min<uint64_t>(riff_end, file.size())));
  size_t at = 12;
  while (file.size() >= at && file.size() - at >= 8) {
    const uint32_t size = little_endian32(&file[at + 4]);
    if (size > file.size() - at - 8) return std::nullopt;
    if (std::memcmp(&file[at], "EXIF", 4) == 0) return file.subspan(at + 8, size);
    at += 8 + size_t{size} + (size & 1);
  }
  return std::nullopt;
}

}  // namespace

ExifFacts read_exif_block(std::span<const uint8_t> block) {
  if (block.size() >= 6 && std::memcmp(block.data(), "Exif\0\0", 6) == 0)
    block = block.subspan(6);
  ExifFacts facts;
  Tiff tiff(block);
  uint32_t ifd0 = 0;
  if (!tiff.header(ifd0)) return facts;
  facts.orientation = tiff.orientation(ifd0);
  const std::optional<uint32_t> exif = tiff.exif_ifd(ifd0);
  const auto text = [&](uint16_t tag) {
    std::optional<std::string> found;
    if (exif) found = tiff.text(*exif, tag);
    if (!found) found = tiff.text(ifd0, tag);
    return found.value_or("");
  };
  facts.date_time = text(tag_date_time_original);
  facts.subsec = text(tag_subsec_time_original);
  facts.offset = text(tag_offset_time_original);
  return facts;
}

ExifFacts read_exif(std::span<const uint8_t> file) {
  std::optional<std::span<const uint8_t>> block;
  if (file.size() >= 4 && file[0] == 0xff && file[1] == 0xd8) {
    block = jpeg_exif(file);
  } else if (file.size() >= 8 && std::memcmp(file.data(), "\x89PNG\r\n\x1a\n", 8) == 0) {
    block = png_exif(file);
  } else if (file.size() >= 12 && std::memcmp(file.data(), "RIFF", 4) == 0 &&
             std::memcmp(file.data() + 8, "WEBP", 4) == 0) {
    block = webp_exif(file);
  } else if (file.size() >= 4 && (std::memcmp(file.data(), "II*\0", 4) == 0 ||
                                  std::memcmp(file.data(), "MM\0*", 4) == 0)) {
    block = file;
  }
  return block ? read_exif_block(*block) : ExifFacts{};
}

ExifFacts read_exif_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return {};
  std::vector<uint8_t> bytes;
  uint8_t start[2] = {};
  const bool jpeg = std::fread(start, 1, 2, file) == 2 && start[0] == 0xff && start[1] == 0xd8;
  // A JPEG's EXIF comes before its picture data, in its first segments: the first MiB holds
  // it. Other formats may keep it anywhere.
  size_t want = size_t{1} << 20;
  if (!jpeg && std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    want = size > 0 && size < (1L << 30) ? static_cast<size_t>(size) : 0;
  }
  bytes.resize(want);
  const bool ok = std::fseek(file, 0, SEEK_SET) == 0;
  bytes.resize(ok ? std::fread(bytes.data(), 1, bytes.size(), file) : 0);
  std::fclose(file);
  return read_exif(bytes);
}

}  // namespace scan
