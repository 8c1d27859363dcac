// SPDX-License-Identifier: GPL-3.0-or-later
// The zoomable outputs read back: the pyramidal TIFF with libtiff (one top-level image
// whose SubIFDs are the reduced levels, each half the one above, rounded up, down to one
// tile) and Deep Zoom's PNG tiles with libpng (every level down to 1 x 1, tiles of 254 with
// one pixel of overlap); in both each pixel is the mean of the 2 x 2 (or fewer, at an odd
// edge) pixels above it, rounded half up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include <filesystem>

#include "scan/output/deep_zoom.h"
#include "scan/output/tiff_pyramid.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/clips.h"

namespace {

using scan::ImageSize;

// Pixel bytes from the place, spread so that sums of four round both ways.
std::vector<uint8_t> pattern(const ImageSize& size) {
  std::vector<uint8_t> bytes(static_cast<size_t>(size.bytes()));
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
  return bytes;
}

// Every directory of the file's top image and its SubIFDs, as read_tiff lays them out.
std::vector<velmora_test::Png> levels_of(const std::string& path, int& top_directories) {
  std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(path.c_str(), "r"), TIFFClose);
  EXPECT_TRUE(tiff);
  if (!tiff) return {};
  top_directories = TIFFNumberOfDirectories(tiff.get());
  uint16_t count = 0;
  toff_t* offsets = nullptr;
  std::vector<toff_t> subifds;
  if (TIFFGetField(tiff.get(), TIFFTAG_SUBIFD, &count, &offsets))
    subifds.assign(offsets, offsets + count);
  std::vector<velmora_test::Png> levels;
  auto read = [&] {
    uint32_t width = 0, height = 0, tile_width = 0, tile_height = 0;
    uint16_t bits = 0;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tiff.get(), TIFFTAG_TILEWIDTH, &tile_width);
    TIFFGetField(tiff.get(), TIFFTAG_TILELENGTH, &tile_height);
    velmora_test::Png level{static_cast<int>(width), static_cast<int>(height), bits, 3, {}};
    const size_t pixel = 3u * bits / 8;
    level.bytes.resize(pixel * width * height);
    std::vector<uint8_t> tile(static_cast<size_t>(TIFFTileSize(tiff.get())));
    for (uint32_t y0 = 0; y0 < height; y0 += tile_height)
      for (uint32_t x0 = 0; x0 < width; x0 += tile_width) {
        EXPECT_GE(TIFFReadTile(tiff.get(), tile.data(), x0, y0, 0, 0), 0);
        for (uint32_t r = 0; r < std::min(tile_height, height - y0); ++r)
          for (size_t b = 0; b < pixel * std::min(tile_width, width - x0); ++b) {
            // Native 16-bit samples to big-endian, as the strips hold them.
            const size_t from = bits == 16 ? (b ^ 1) : b;
            level.bytes[(y0 + r) * pixel * width + x0 * pixel + b] =
                tile[r * pixel * tile_width + from];
          }
      }
    levels.push_back(std::move(level));
  };
  read();
  for (toff_t offset : subifds) {
    EXPECT_TRUE(TIFFSetSubDirectory(tiff.get(), offset));
    read();
  }
  return levels;
}

// The level below `above`, by the rule itself.
velmora_test::Png halve(const velmora_test::Png& above) {
  velmora_test::Png below{(above.width + 1) / 2, (above.height + 1) / 2, above.bit_depth, 3, {}};
  const int size = above.bit_depth / 8;
  below.bytes.resize(static_cast<size_t>(below.width) * below.height * 3 * size);
  for (int y = 0; y < below.height; ++y)
    for (int x = 0; x < below.width; ++x)
      for (int c = 0; c < 3; ++c) {
        uint32_t sum = 0, n = 0;
        for (int yy = 2 * y; yy < std::min(2 * y + 2, above.height); ++yy)
          for (int xx = 2 * x; xx < std::min(2 * x + 2, above.width); ++xx, ++n)
            sum += static_cast<uint32_t>(above.sample(xx, yy, c));
        const uint32_t mean = (2 * sum + n) / (2 * n);  // half up
        uint8_t* at = below.bytes.data() + ((static_cast<size_t>(y) * below.width + x) * 3 + c) * size;
        if (size == 2) *at++ = static_cast<uint8_t>(mean >> 8);
        *at = static_cast<uint8_t>(mean);
      }
  return below;
}

// Hands `image` over in strips of `lines` lines, as a run does.
template <typename Add>
bool feed(const std::vector<uint8_t>& image, const ImageSize& size, bool vertical, int lines,
          Add add) {
  const int64_t stride = size.width * size.pixel_bytes;
  const int64_t total = vertical ? size.width : size.height;
  for (int64_t at = 0; at < total; at += lines) {
    const int64_t n = std::min<int64_t>(lines, total - at);
    const strips::ConstBytePlane strip =
        vertical ? strips::ConstBytePlane{image.data() + at * size.pixel_bytes,
                                          n * size.pixel_bytes, size.height, stride}
                 : strips::ConstBytePlane{image.data() + at * stride, stride, n, stride};
    if (!add(strip)) return false;
  }
  return true;
}

TEST(TiffPyramid, EverySubIfdIsTheTwoByTwoMeanOfTheLevelAbove) {
  struct Case {
    ImageSize size;
    bool vertical;
    int strip_lines;
    int levels;  // the full image and its reduced ones
  };
  const Case cases[] = {
      {{256, 256, 3}, true, 1, 1},    {{257, 9, 3}, true, 5, 2},
      {{253, 513, 6}, false, 7, 3},   {{255, 300, 3}, true, 3, 2},
      {{1031, 5, 6}, true, 2, 4},     {{7, 1030, 3}, false, 4, 4},
      {{509, 509, 6}, true, 11, 2},   {{254, 1025, 3}, false, 1, 4},
  };
  const std::string folder = velmora_test::fresh_folder("tiff-pyramid");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size.width) + " x " + std::to_string(c.size.height) + " x " +
                 std::to_string(c.size.pixel_bytes) + (c.vertical ? " vertical" : " horizontal"));
    const std::string path = folder + "/pyramid.tif";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const strips::Cut cut = c.vertical ? strips::Cut::vertical : strips::Cut::horizontal;
    auto pyramid = scan::TiffPyramid::open(fd, folder, c.size, cut, scan::TiffCompression::deflate);
    ASSERT_TRUE(pyramid) << pyramid.error().message;
    const std::vector<uint8_t> image = pattern(c.size);
    ASSERT_TRUE(feed(image, c.size, c.vertical, c.strip_lines,
                     [&](const strips::ConstBytePlane& strip) { return (*pyramid)->add(strip); }));
    ASSERT_TRUE((*pyramid)->finish());
    pyramid->reset();
    close(fd);
    int top = 0;
    const std::vector<velmora_test::Png> levels = levels_of(path, top);
    EXPECT_EQ(top, 1);
    ASSERT_EQ(static_cast<int>(levels.size()), c.levels);
    EXPECT_EQ(levels[0].bytes, image);
    for (size_t l = 1; l < levels.size(); ++l) {
      const velmora_test::Png expected = halve(levels[l - 1]);
      EXPECT_EQ(levels[l].width, expected.width) << "level " << l;
      EXPECT_EQ(levels[l].height, expected.height) << "level " << l;
      EXPECT_TRUE(levels[l].bytes == expected.bytes) << "level " << l;
    }
  }
}

// The pixels of `level` in [x0, x1) x [y0, y1), packed.
velmora_test::Png crop(const velmora_test::Png& level, int x0, int x1, int y0, int y1) {
  velmora_test::Png part{x1 - x0, y1 - y0, level.bit_depth, 3, {}};
  const size_t pixel = 3u * level.bit_depth / 8;
  for (int y = y0; y < y1; ++y)
    part.bytes.insert(part.bytes.end(),
                      level.bytes.begin() + (static_cast<size_t>(y) * level.width + x0) * pixel,
                      level.bytes.begin() + (static_cast<size_t>(y) * level.width + x1) * pixel);
  return part;
}

// Deep Zoom's own rule for the lines tile t covers: 254 a tile, one more on each side
// that has a neighbour.
std::pair<int, int> span(int t, int length) {
  return {std::max(0, t * 254 - 1), std::min(length, t * 254 + 255)};
}

// Sides around a tile's edge (253 .. 255, 508, 509), both cuts, both depths, strips of
// several widths, some reaching over a band's end: level l's folder holds exactly the
// tiles COL_ROW.png its size has, each holding the level's pixels there; the deepest
// level is the image, each one above it the 2 x 2 means of the one below, down to 1 x 1.
TEST(DeepZoom, TilesHoldEachLevelsPixelsWithTheirOverlap) {
  namespace fs = std::filesystem;
  struct Case {
    ImageSize size;
    bool vertical;
    int strip_lines;
    int deepest;  // the full image's level
  };
  const Case cases[] = {
      {{253, 7, 3}, true, 1, 8},      {{254, 20, 6}, true, 3, 8},
      {{255, 255, 3}, true, 4, 8},    {{508, 30, 3}, true, 5, 9},
      {{40, 509, 6}, false, 2, 9},    {{1, 1, 3}, true, 1, 0},
      {{257, 256, 3}, false, 1, 9},   {{600, 9, 6}, true, 7, 10},
  };
  const std::string folder = velmora_test::fresh_folder("deep-zoom");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size.width) + " x " + std::to_string(c.size.height) + " x " +
                 std::to_string(c.size.pixel_bytes) + (c.vertical ? " vertical" : " horizontal"));
    const std::string files = folder + "/tiles";
    fs::remove_all(files);
    fs::create_directory(files);
    auto zoom = scan::DeepZoom::open(files, c.size,
                                     c.vertical ? strips::Cut::vertical : strips::Cut::horizontal,
                                     scan::TileFormat::png, 90, 3);
    ASSERT_TRUE(zoom) << zoom.error().message;
    const std::vector<uint8_t> image = pattern(c.size);
    ASSERT_TRUE(feed(image, c.size, c.vertical, c.strip_lines,
                     [&](const strips::ConstBytePlane& strip) { return (*zoom)->add(strip); }));
    ASSERT_TRUE((*zoom)->finish());
    zoom->reset();
    EXPECT_EQ(static_cast<int>(velmora_test::names_in(files).size()), c.deepest + 1);
    velmora_test::Png level{static_cast<int>(c.size.width), static_cast<int>(c.size.height),
                            c.size.pixel_bytes * 8 / 3, 3, image};
    for (int l = c.deepest; l >= 0; --l, level = halve(level)) {
      SCOPED_TRACE("level " + std::to_string(l));
      const std::string at = files + "/" + std::to_string(l) + "/";
      std::vector<std::string> expected_names;
      for (int col = 0; col * 254 < level.width; ++col)
        for (int row = 0; row * 254 < level.height; ++row) {
          const std::string name = std::to_string(col) + "_" + std::to_string(row) + ".png";
          expected_names.push_back(name);
          const auto [x0, x1] = span(col, level.width);
          const auto [y0, y1] = span(row, level.height);
          const velmora_test::Png tile = velmora_test::read_png(at + name);
          const velmora_test::Png want = crop(level, x0, x1, y0, y1);
          ASSERT_EQ(tile.width, want.width) << name;
          ASSERT_EQ(tile.height, want.height) << name;
          EXPECT_TRUE(tile.bytes == want.bytes) << name;
        }
      std::sort(expected_names.begin(), expected_names.end());
      EXPECT_EQ(velmora_test::names_in(at), expected_names);
      if (l == 0) {
        EXPECT_EQ(level.width * level.height, 1);
      }
    }
  }
}

// Every file's bytes under `root` (a file, or a folder's files by name).
std::vector<std::pair<std::string, std::string>> contents(const std::string& root) {
  namespace fs = std::filesystem;
  std::vector<std::pair<std::string, std::string>> files;
  auto read = [](const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  if (!fs::is_directory(root)) return {{"", read(root)}};
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file())
      files.emplace_back(fs::relative(entry.path(), root).string(), read(entry.path()));
  std::sort(files.begin(), files.end());
  return files;
}

// A whole run: the same bytes at 1, 2 and 3 threads (decoding, Deep Zoom's encoders, the
// pyramid's levels beside the image), and the pyramid's top image is the flat TIFF's.
TEST(ZoomOutputs, SameBytesAtEveryThreadCount) {
  const std::string folder = velmora_test::fresh_folder("zoom-threads");
  const std::string clip = velmora_test::cached_clip(
      {.width = 96, .height = 300, .frames = 270, .fps_num = 25, .codec = clipwriter::Codec::mjpeg});
  for (const char* kind : {"pyramid.tif", "tiles.dzi"}) {
    SCOPED_TRACE(kind);
    const bool dzi = std::string(kind).ends_with(".dzi");
    std::vector<std::vector<std::pair<std::string, std::string>>> runs;
    for (const char* threads : {"1", "2", "3"}) {
      const std::string out = folder + "/" + threads + kind;
      std::vector<std::string> args = {"--threads", threads, "--slit", "10:2", clip, out};
      if (!dzi) args.insert(args.begin(), "--pyramid");
      const velmora_test::Ran ran = velmora_test::run_scan(args);
      ASSERT_EQ(ran.status, 0) << ran.err;
      runs.push_back(contents(dzi ? folder + "/" + threads + "tiles_files" : out));
      if (dzi) runs.back().emplace_back("dzi", contents(out).front().second);
    }
    EXPECT_GT(runs[0].size(), dzi ? 10u : 0u);
    EXPECT_TRUE(runs[1] == runs[0]);
    EXPECT_TRUE(runs[2] == runs[0]);
    if (!dzi) {
      ASSERT_EQ(velmora_test::run_scan({"--slit", "10:2", clip, folder + "/flat.tif"}).status, 0);
      int top = 0;
      EXPECT_EQ(levels_of(folder + "/1" + kind, top).front().bytes,
                velmora_test::read_tiff(folder + "/flat.tif").image.bytes);
    }
  }
}

}  // namespace
