// SPDX-License-Identifier: GPL-3.0-or-later
// TIFF stacks written here with libtiff, page values known: each strip must be its own
// page's row, the pages picked in ImageJ's order, and what is not a stack of alike pages
// refused by name. A stack cut short keeps the pages before the cut, with a warning.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>
#include <vector>

#include "tests/scan/run/scan_support.h"

namespace {

struct Stack {
  int width = 12, height = 9, pages = 6;
  uint16_t bits = 8, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
  int value_bits = 8;  // 12 for 12-bit data held in 16
  int rows = 2;        // rows a strip; with `tile`, tiles of tile x tile instead
  int tile = 0;
  std::string description = {};
  int odd_page = -1, odd_width = 0, odd_bits = 0;  // one page unlike the others
};

// Sample c of pixel (x, y) of page p: a different value for nearly every place.
unsigned value(const Stack& s, int p, int x, int y, int c) {
  return (p * 4099u + x * 257u + y * 11u + c * 31u) % (1u << s.value_bits);
}

void write_stack(const std::string& path, const Stack& s) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  for (int p = 0; p < s.pages; ++p) {
    const int width = p == s.odd_page && s.odd_width ? s.odd_width : s.width;
    const uint16_t bits = p == s.odd_page && s.odd_bits ? s.odd_bits : s.bits;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.samples);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, s.format);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, s.planar);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    if (p == 0 && !s.description.empty())
      TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, s.description.c_str());
    if (s.photometric == PHOTOMETRIC_PALETTE) {
      // Colours unlike the indices: the image must hold the indices.
      std::vector<uint16_t> red(256, 65535), green(256, 0), blue(256, 30000);
      TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    const int bytes = bits / 8, planes = s.planar == PLANARCONFIG_SEPARATE ? s.samples : 1;
    const int per_row = s.planar == PLANARCONFIG_SEPARATE ? 1 : s.samples;
    std::vector<uint8_t> row(static_cast<size_t>(width) * per_row * bytes);
    const auto fill = [&](int y, int plane) {
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < per_row; ++c) {
          const unsigned v = value(s, p, x, y, c + plane);
          if (bytes == 2) reinterpret_cast<uint16_t*>(row.data())[x * per_row + c] = uint16_t(v);
          else if (bytes == 1) row[x * per_row + c] = uint8_t(v);
        }
    };
    if (s.tile > 0) {
      TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tile);
      TIFFSetField(t, TIFFTAG_TILELENGTH, s.tile);
      std::vector<uint8_t> tile(TIFFTileSize(t));
      for (int ty = 0; ty < s.height; ty += s.tile)
        for (int tx = 0; tx < width; tx += s.tile) {
          std::fill(tile.begin(), tile.end(), 0);
          for (int y = ty; y < std::min(ty + s.tile, s.height); ++y) {
            fill(y, 0);
            const int n = std::min(s.tile, width - tx) * per_row * bytes;
            std::copy_n(row.begin() + tx * per_row * bytes, n,
                        tile.begin() + (y - ty) * s.tile * per_row * bytes);
          }
          ASSERT_GE(TIFFWriteTile(t, tile.data(), tx, ty, 0, 0), 0);
        }
    } else {
      TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, s.rows);
      for (int plane = 0; plane < planes; ++plane)
        for (int y = 0; y < s.height; ++y) {
          fill(y, plane);
          ASSERT_EQ(TIFFWriteScanline(t, row.data(), y, plane), 1);
        }
    }
    ASSERT_TRUE(TIFFWriteDirectory(t));
  }
  TIFFClose(t);
}

std::string imagej(int images, int channels, int slices, int frames) {
  return "ImageJ=1.54f\nimages=" + std::to_string(images) + "\nchannels=" +
         std::to_string(channels) + "\nslices=" + std::to_string(slices) + "\nframes=" +
         std::to_string(frames) + "\nhyperstack=true\n";
}

// Row `y` of the stack along a line; a stack's time runs down by default, so strip t is
// row t of the image.
velmora_test::Ran kymograph(const std::string& stack, const std::string& out, int y, int width,
                            std::vector<std::string> more = {}) {
  more.insert(more.end(), {"--line", "0," + std::to_string(y) + "," + std::to_string(width - 1) +
                           "," + std::to_string(y), stack, out});
  return velmora_test::run_scan(more);
}

TEST(TiffStack, EachStripIsItsPagesRow) {
  const std::string folder = velmora_test::fresh_folder("tiff-stack");
  struct Case {
    const char* name;
    Stack stack;
    std::vector<std::string> args;
    std::vector<int> pages;  // the page of each strip, in order
  };
  const std::string four = imagej(8, 2, 4, 1);
  const Case cases[] = {
      {"8-bit grey in strips", {}, {}, {0, 1, 2, 3, 4, 5}},
      {"16-bit grey in tiles", {.width = 40, .height = 20, .bits = 16, .value_bits = 16, .tile = 16},
       {}, {0, 1, 2, 3, 4, 5}},
      {"12 bits in 16", {.bits = 16, .value_bits = 12, .rows = 4}, {}, {0, 1, 2, 3, 4, 5}},
      {"palette as indices", {.photometric = PHOTOMETRIC_PALETTE}, {}, {0, 1, 2, 3, 4, 5}},
      {"16-bit RGB", {.bits = 16, .samples = 3, .photometric = PHOTOMETRIC_RGB, .value_bits = 16},
       {}, {0, 1, 2, 3, 4, 5}},
      {"every second from 1", {}, {"--from", "1", "--every", "2"}, {1, 3, 5}},
      {"channel 2 of slice 2", {.pages = 12, .description = imagej(12, 2, 2, 3)},
       {"--channel", "2", "--z", "2"}, {3, 7, 11}},
      {"slices as time", {.pages = 8, .description = four}, {"--channel", "1"}, {0, 2, 4, 6}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string stack = folder + "/" + c.name + ".tif", out = folder + "/" + c.name + "-k.tif";
    write_stack(stack, c.stack);
    const int y = c.stack.height - 3;
    const velmora_test::Ran ran = kymograph(stack, out, y, c.stack.width, c.args);
    ASSERT_EQ(ran.status, 0) << ran.err;
    const velmora_test::Png k = velmora_test::read_tiff(out).image;
    ASSERT_EQ(k.height, static_cast<int>(c.pages.size()));
    ASSERT_EQ(k.width, c.stack.width);
    std::vector<unsigned> got, want;
    for (size_t t = 0; t < c.pages.size(); ++t)
      for (int x = 0; x < k.width; ++x)
        for (int comp = 0; comp < 3; ++comp) {
          got.push_back(static_cast<unsigned>(k.sample(x, static_cast<int>(t), comp)));
          want.push_back(value(c.stack, c.pages[t], x, y, c.stack.samples == 3 ? comp : 0));
        }
    EXPECT_EQ(got, want);
  }
}

TEST(TiffStack, RefusesWhatIsNotAStackOfAlikePages) {
  const std::string folder = velmora_test::fresh_folder("tiff-stack-refused");
  struct Case {
    const char* name;
    Stack stack;
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {"a narrower page", {.odd_page = 2, .odd_width = 11}, {}, "page 3 is 11 x 9, 8-bit grey"},
      {"a deeper page", {.odd_page = 1, .odd_bits = 16}, {}, "page 2 is 12 x 9, 16-bit grey"},
      {"more images described", {.description = imagej(10, 1, 1, 10)}, {}, "says 10 images"},
      {"dimensions against images", {.description = imagej(6, 2, 2, 2)}, {}, "do not multiply"},
      {"a channel past the last", {.description = imagej(6, 2, 1, 3)}, {"--channel", "3"},
       "has 2 channel(s)"},
      {"channels without a pick", {.description = imagej(6, 2, 1, 3)}, {}, "with --channel N"},
      {"a slice of one frame", {.description = imagej(6, 1, 6, 1)}, {"--z", "2"},
       "its slices are the time"},
      {"planes apart", {.samples = 3, .photometric = PHOTOMETRIC_RGB, .planar = PLANARCONFIG_SEPARATE},
       {}, "8-bit RGB in separate planes are not read"},
      {"a picture of one page", {.pages = 1}, {"--z", "1"}, "for a TIFF stack"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string stack = folder + "/" + c.name + ".tif", out = folder + "/k.tif";
    write_stack(stack, c.stack);
    const velmora_test::Ran ran = kymograph(stack, out, 4, 11, c.args);
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find(c.message), std::string::npos) << ran.err;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

TEST(TiffStack, ACutOffStackKeepsThePagesBeforeTheCut) {
  const std::string folder = velmora_test::fresh_folder("tiff-stack-cut");
  const Stack s{.pages = 5, .bits = 16, .value_bits = 16, .description = imagej(5, 1, 1, 5)};
  const std::string stack = folder + "/cut.tif";
  write_stack(stack, s);
  // Into the data of page 4: libtiff writes a page's strips before its directory.
  TIFF* t = TIFFOpen(stack.c_str(), "r");
  ASSERT_TRUE(t != nullptr && TIFFSetDirectory(t, 3));
  uint64_t* offsets = nullptr;
  ASSERT_TRUE(TIFFGetField(t, TIFFTAG_STRIPOFFSETS, &offsets));
  const uint64_t cut = offsets[0] + 3;
  TIFFClose(t);
  std::filesystem::resize_file(stack, cut);
  const velmora_test::Ran ran = kymograph(stack, folder + "/k.tif", 4, s.width);
  ASSERT_EQ(ran.status, 0) << ran.err;
  EXPECT_NE(ran.err.find("breaks off after page 3"), std::string::npos) << ran.err;
  const velmora_test::Png k = velmora_test::read_tiff(folder + "/k.tif").image;
  ASSERT_EQ(k.height, 3);
  EXPECT_EQ(static_cast<unsigned>(k.sample(5, 2, 0)), value(s, 2, 5, 4, 0));
}

}  // namespace
