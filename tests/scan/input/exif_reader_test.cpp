// SPDX-License-Identifier: GPL-3.0-or-later
// One EXIF block, well formed or not, says the same in every format that carries it: a
// JPEG's APP1, a PNG's eXIf, a WebP's EXIF chunk, a TIFF's own directories.
#include <gtest/gtest.h>

#include "scan/input/image_orientation.h"
#include "scan/time/picture_clock.h"
#include "tests/support/scratch.h"
#include "tools/clipwriter/avi_bytes.h"

namespace {

using clipwriter::Bytes;

struct Entry {
  uint16_t tag, type;
  uint32_t count;
  std::string value;  // its bytes; past four, they go after the directories
};

void le(Bytes& b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> 8 * i));
}

// A little-endian TIFF header and a first directory of `entries` claiming `claimed`
// entries (0: as many as there are).
Bytes block(const std::vector<Entry>& entries, uint16_t claimed = 0) {
  Bytes b{'I', 'I', 42, 0};
  le(b, 8, 4);
  le(b, claimed != 0 ? claimed : entries.size(), 2);
  uint32_t data = static_cast<uint32_t>(8 + 2 + 12 * entries.size() + 4);
  std::string after;
  for (const Entry& e : entries) {
    le(b, e.tag, 2), le(b, e.type, 2), le(b, e.count, 4);
    if (e.value.size() <= 4) {
      b.insert(b.end(), e.value.begin(), e.value.end());
      for (size_t i = e.value.size(); i < 4; ++i) b.push_back(0);
    } else {
      le(b, data + static_cast<uint32_t>(after.size()), 4);
      after += e.value;
    }
  }
  le(b, 0, 4);
  b.insert(b.end(), after.begin(), after.end());
  return b;
}

// The block as each format carries it.
Bytes wrapped(const Bytes& exif, const std::string& format) {
  Bytes f;
  if (format == "tiff") return exif;
  if (format == "jpeg") {
    f = {0xff, 0xd8, 0xff, 0xe1};
    const size_t length = exif.size() + 8;
    f.push_back(static_cast<uint8_t>(length >> 8)), f.push_back(static_cast<uint8_t>(length));
    f.insert(f.end(), {'E', 'x', 'i', 'f', 0, 0});
    f.insert(f.end(), exif.begin(), exif.end());
    f.insert(f.end(), {0xff, 0xd9});
  } else if (format == "png") {
    f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (int i = 3; i >= 0; --i) f.push_back(static_cast<uint8_t>(exif.size() >> 8 * i));
    f.insert(f.end(), {'e', 'X', 'I', 'f'});
    f.insert(f.end(), exif.begin(), exif.end());
    f.insert(f.end(), {0, 0, 0, 0, 0, 0, 0, 0, 'I', 'E', 'N', 'D', 0, 0, 0, 0});
  } else {
    f = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P', 'E', 'X', 'I', 'F'};
    le(f, static_cast<uint32_t>(exif.size()), 4);
    f.insert(f.end(), exif.begin(), exif.end());
    if (exif.size() % 2) f.push_back(0);
    clipwriter::put_le32(f, 4, static_cast<uint32_t>(f.size() - 8));
  }
  return f;
}

const std::string six{6, 0}, three{3, 0};
const std::string date = "2026:12:07 22:15:00";

TEST(ExifReader, OneBlockSaysTheSameInEveryFormat) {
  const Entry exif_ifd{0x8769, 4, 1, std::string{38, 0, 0, 0}};
  struct Case {
    std::string what;
    Bytes exif;
    int orientation;  // 0: none
    bool dated;
  } cases[] = {
      {"plain", block({{0x0112, 3, 1, six}}), 6, false},
      {"ascii 6", block({{0x0112, 2, 2, std::string("6\0", 2)}}), 0, false},
      {"short, count 5", block({{0x0112, 3, 5, six + three + three + three + three}}), 0, false},
      {"0xffff entries", block({{0x0112, 3, 1, six}}, 0xffff), 6, false},
      {"two orientations", block({{0x0112, 3, 1, six}, {0x0112, 3, 1, three}}), 6, false},
      {"nine", block({{0x0112, 3, 1, std::string{9, 0}}}), 0, false},
      // IFD0 at 8 holds 2 entries (ends at 38); the Exif IFD at 38 holds the date.
      {"dated", block({{0x0112, 3, 1, three}, exif_ifd}), 3, true},
  };
  // The Exif directory: one entry, DateTimeOriginal, its text right after.
  Bytes& dated = cases[6].exif;
    le(dated, 1, 2), le(dated, 0x9003, 2), le(dated, 2, 2), le(dated, 20, 4), le(dated, 56, 4);
  le(dated, 0, 4);
  dated.insert(dated.end(), date.begin(), date.end());
  dated.push_back(0);
  for (const Case& c : cases)
    for (const char* format : {"jpeg", "png", "webp", "tiff"}) {
      const Bytes file = wrapped(c.exif, format);
      const auto got = scan::image_orientation(file);
      const std::string what = c.what + " in " + format;
      EXPECT_EQ(got.has_value(), c.orientation != 0) << what;
      if (got && c.orientation != 0) {
        EXPECT_TRUE(got->orientation == scan::exif_orientation_matrix(c.orientation)->orientation)
            << what;
      }
      const std::string path = velmora_test::scratch_path("exif-file");
      ASSERT_TRUE(clipwriter::write_bytes(path, file));
      EXPECT_EQ(scan::picture_clock(path, scan::ClockSource::exif).has_value(), c.dated) << what;
    }
}

}  // namespace
