// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/image_orientation.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <libexif/exif-data.h>
#include <tiffio.h>

extern "C" {
#include <libavutil/display.h>
}

namespace scan {
namespace {

uint32_t big_endian32(const uint8_t* b) {
  return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

uint32_t little_endian32(const uint8_t* b) {
  return uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
}

struct ExifFree {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};

// The orientation in raw EXIF bytes: a TIFF header and its directories, with or without
// the "Exif\0\0" a JPEG's APP1 segment puts before them (some writers keep it).
std::optional<int> exif_orientation(std::span<const uint8_t> exif) {
  static constexpr uint8_t header[6] = {'E', 'x', 'i', 'f', 0, 0};
  // libexif takes an unsigned int; no camera writes 16 MiB of EXIF.
  if (exif.size() > (size_t{1} << 24)) return std::nullopt;
  std::vector<uint8_t> bytes;
  if (exif.size() < 6 || !std::equal(header, header + 6, exif.begin()))
    bytes.assign(header, header + 6);
  bytes.insert(bytes.end(), exif.begin(), exif.end());
  std::unique_ptr<ExifData, ExifFree> data(
      exif_data_new_from_data(bytes.data(), static_cast<unsigned int>(bytes.size())));
  if (!data) return std::nullopt;
  ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
  if (entry == nullptr || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 ||
      entry->data == nullptr || entry->size < 2)
    return std::nullopt;
  return exif_get_short(entry->data, exif_data_get_byte_order(data.get()));
}

// PNG: a signature, then chunks of a 4-byte big-endian length, a type, the data and a CRC.
std::optional<std::span<const uint8_t>> png_exif(std::span<const uint8_t> file) {
  static constexpr uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (file.size() < 8 || !std::equal(signature, signature + 8, file.begin())) return std::nullopt;
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
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
      std::memcmp(file.data() + 8, "WEBP", 4) != 0)
    return std::nullopt;
  // A RIFF size smaller than the file ends it there; a larger one is a cut-off file.
  const uint64_t riff_end = uint64_t{little_endian32(&file[4])} + 8;
  file = file.first(static_cast<size_t>(std::min<uint64_t>(riff_end, file.size())));
  size_t at = 12;
  while (file.size() - at >= 8) {
    const uint32_t size = little_endian32(&file[at + 4]);
    if (size > file.size() - at - 8) return std::nullopt;
    if (std::memcmp(&file[at], "EXIF", 4) == 0) return file.subspan(at + 8, size);
    at += 8 + size_t{size} + (size & 1);
    if (at > file.size()) return std::nullopt;
  }
  return std::nullopt;
}

// libtiff reading from memory, silently: a broken TIFF only has no orientation.
struct Memory {
  std::span<const uint8_t> bytes;
  uint64_t at = 0;
};

tmsize_t read_memory(thandle_t handle, void* out, tmsize_t size) {
  Memory& m = *static_cast<Memory*>(handle);
  if (size < 0 || m.at >= m.bytes.size()) return 0;
  const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(size), m.bytes.size() - m.at);
  std::memcpy(out, m.bytes.data() + m.at, static_cast<size_t>(n));
  m.at += n;
  return static_cast<tmsize_t>(n);
}
tmsize_t write_nothing(thandle_t, void*, tmsize_t) { return -1; }
toff_t seek_memory(thandle_t handle, toff_t offset, int whence) {
  Memory& m = *static_cast<Memory*>(handle);
  uint64_t base = 0;
  if (whence == SEEK_CUR) base = m.at;
  if (whence == SEEK_END) base = m.bytes.size();
  // Past the end is allowed, as in a file; reads there give nothing.
  m.at = base + offset;
  return m.at;
}
int close_nothing(thandle_t) { return 0; }
toff_t size_of_memory(thandle_t handle) { return static_cast<Memory*>(handle)->bytes.size(); }
int map_nothing(thandle_t, void**, toff_t*) { return 0; }
void unmap_nothing(thandle_t, void*, toff_t) {}
int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

std::optional<int> tiff_orientation(std::span<const uint8_t> file) {
  if (file.size() < 8 || (std::memcmp(file.data(), "II", 2) != 0 &&
                          std::memcmp(file.data(), "MM", 2) != 0))
    return std::nullopt;
  Memory memory{file};
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return std::nullopt;
  TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
  std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(
      TIFFClientOpenExt("image", "rm", &memory, read_memory, write_nothing, seek_memory,
                        close_nothing, size_of_memory, map_nothing, unmap_nothing, options),
      TIFFClose);
  TIFFOpenOptionsFree(options);
  uint16_t orientation = 0;
  if (!tiff || TIFFGetField(tiff.get(), TIFFTAG_ORIENTATION, &orientation) != 1)
    return std::nullopt;
  return orientation;
}

}  // namespace

std::optional<decode::DisplayMatrix> exif_orientation_matrix(int orientation) {
  if (orientation < 1 || orientation > 8) return std::nullopt;
  // EXIF's numbers: 1 upright, 3 half a turn, 6 and 8 quarter turns; 2, 4, 5 and 7 the
  // same mirrored.
  static constexpr double degrees[9] = {0, 0, 0, 180, 180, 90, 90, -90, -90};
  int32_t matrix[9];
  av_display_rotation_set(matrix, degrees[orientation]);
  if (orientation == 2 || orientation == 4 || orientation == 5 || orientation == 7)
    av_display_matrix_flip(matrix, 1, 0);
  return decode::read_display_matrix(matrix);
}

std::optional<decode::DisplayMatrix> image_orientation(std::span<const uint8_t> file) {
  std::optional<int> orientation = tiff_orientation(file);
  if (!orientation) {
    std::optional<std::span<const uint8_t>> exif = png_exif(file);
    if (!exif) exif = webp_exif(file);
    if (exif) orientation = exif_orientation(*exif);
  }
  return orientation ? exif_orientation_matrix(*orientation) : std::nullopt;
}

std::optional<decode::DisplayMatrix> image_orientation(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  return image_orientation(file);
}

}  // namespace scan
