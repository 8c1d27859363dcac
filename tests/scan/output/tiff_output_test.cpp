// SPDX-License-Identifier: GPL-3.0-or-later
// The tiled TIFF writer on its own: when a file must be a BigTIFF, that tiles reach the
// file as soon as their band is complete, and that a BigTIFF reads back as written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "scan/output/tiff_output.h"
#include "tests/scan/run/scan_support.h"

namespace {

using scan::ImageSize;
using scan::TiffCompression;

TEST(TiffOutput, BigTiffWhenTheFileCouldPassFourGibibytes) {
  struct Case {
    ImageSize size;
    TiffCompression compression;
    bool bigtiff;
  };
  const Case cases[] = {
      {{1920, 1080, 3}, TiffCompression::deflate, false},
      // 85 tile rows of 8-bit RGB: 3.98 GiB stored as it is, room left for the directory.
      {{65536, 21760, 3}, TiffCompression::none, false},
      {{65536, 21760, 3}, TiffCompression::deflate, false},
      // zstd's bound adds 1/128 here.
      {{65536, 21760, 3}, TiffCompression::zstd, true},
      {{65536, 22016, 3}, TiffCompression::none, true},
      // One row more is a whole tile row more: edge tiles are stored whole.
      {{65536, 21761, 3}, TiffCompression::none, true},
      {{65536, 21504, 3}, TiffCompression::deflate, false},
      {{65536, 21504, 3}, TiffCompression::zstd, false},
      // LZW can grow incompressible data by half.
      {{65536, 16384, 3}, TiffCompression::lzw, true},
      {{65536, 14080, 3}, TiffCompression::lzw, false},
      // 16-bit RGB takes twice the bytes.
      {{65536, 10752, 6}, TiffCompression::none, false},
      {{65536, 11008, 6}, TiffCompression::none, true},
      // Sides beyond what 64-bit products of bytes hold.
      {{4294967295, 4096, 6}, TiffCompression::deflate, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(scan::needs_bigtiff(c.size, c.compression), c.bigtiff)
        << c.size.width << " x " << c.size.height << " x " << c.size.pixel_bytes << " bytes, "
        << static_cast<int>(c.compression);
}

off_t size_of(int fd) {
  struct stat st {};
  fstat(fd, &st);
  return st.st_size;
}

// Strip k of a test image: every pixel's bytes from its place in the whole image.
std::vector<uint8_t> strip_bytes(const ImageSize& strip, int64_t first_line, bool vertical) {
  std::vector<uint8_t> bytes(static_cast<size_t>(strip.bytes()));
  for (int64_t y = 0; y < strip.height; ++y)
    for (int64_t x = 0; x < strip.width; ++x)
      for (int b = 0; b < strip.pixel_bytes; ++b) {
        const int64_t gx = vertical ? first_line + x : x, gy = vertical ? y : first_line + y;
        bytes[static_cast<size_t>((y * strip.width + x) * strip.pixel_bytes + b)] =
            static_cast<uint8_t>(gx * 7 + gy * 13 + b * 61);
      }
  return bytes;
}

// Strips of 100 lines into a 600-line image with 300-line sides across: nothing is written
// (beyond the header) until a band of 256 lines is complete, and then that band's tiles.
TEST(TiffOutput, EachBandIsWrittenWhenItsLastStripIsIn) {
  const std::string folder = velmora_test::fresh_folder("tiff-bands");
  for (const bool vertical : {true, false}) {
    for (const int pixel_bytes : {3, 6}) {
      SCOPED_TRACE(std::string(vertical ? "vertical" : "horizontal") + ", " +
                   std::to_string(pixel_bytes) + " bytes a pixel");
      const std::string path = folder + "/bands.tif";
      const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
      ASSERT_GE(fd, 0);
      const ImageSize size = vertical ? ImageSize{600, 300, pixel_bytes}
                                      : ImageSize{300, 600, pixel_bytes};
      ImageSize strip = size;
      (vertical ? strip.width : strip.height) = 100;
      auto opened = scan::TiffBands::open(fd, size, vertical ? strips::Cut::vertical
                                                             : strips::Cut::horizontal,
                                          TiffCompression::none, true);
      ASSERT_TRUE(opened) << opened.error().message;
      std::vector<off_t> sizes;
      for (int k = 0; k < 6; ++k) {
        std::vector<uint8_t> bytes = strip_bytes(strip, k * 100, vertical);
        const int64_t stride = strip.width * pixel_bytes;
        ASSERT_TRUE((*opened)->add({bytes.data(), stride, strip.height, stride}));
        sizes.push_back(size_of(fd));
      }
      // Two tiles a band, stored whole and uncompressed.
      const off_t tiles = 2 * 256 * 256 * pixel_bytes;
      EXPECT_LT(sizes[1], 1024);                    // 200 lines: no band complete
      EXPECT_GE(sizes[2] - sizes[1], tiles);        // 300 lines: the first band
      EXPECT_EQ(sizes[3], sizes[2]);
      EXPECT_GE(sizes[5] - sizes[4], tiles);        // 512 lines: the second
      ASSERT_TRUE((*opened)->finish());
      opened->reset();
      close(fd);
      const velmora_test::Tiff tiff = velmora_test::read_tiff(path);
      EXPECT_TRUE(tiff.bigtiff);
      ASSERT_EQ(tiff.image.width, size.width);
      ASSERT_EQ(tiff.image.height, size.height);
      EXPECT_EQ(tiff.image.bit_depth, pixel_bytes * 8 / 3);
      // Whole image at once: strip_bytes of one strip as long as the image.
      EXPECT_EQ(tiff.image.bytes, strip_bytes(size, 0, vertical));
    }
  }
}

}  // namespace
