// SPDX-License-Identifier: GPL-3.0-or-later
// The PNG deflated on several threads: libpng reads back the very pixels, however the rows
// fall into chunks and threads, and the file is as small as libpng's own at level 1.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>

#include "scan/output/png_output.h"
#include "tests/scan/run/scan_support.h"

namespace {

namespace fs = std::filesystem;
using scan::ImageSize;
using scan::StripImage;

// Rows that repeat with a drift and some noise, so that matches reach back across rows
// (and chunks) and a wrong dictionary shows.
StripImage textured(const ImageSize& size, uint32_t seed) {
  StripImage image;
  EXPECT_TRUE(image.allocate(size));
  std::mt19937 noise(seed);
  const strips::BytePlane plane = image.plane();
  for (int64_t y = 0; y < size.height; ++y)
    for (int64_t i = 0; i < plane.width; ++i)
      plane.pixels[y * plane.stride + i] = static_cast<uint8_t>(
          (i * 7 + (y % 5) * 31 + (i / 97) * y) ^ (noise() % 4 == 0 ? noise() : 0));
  return image;
}

std::vector<uint8_t> bytes_of(const StripImage& image) {
  std::vector<uint8_t> bytes;
  for (int64_t y = 0; y < image.size().height; ++y)
    bytes.insert(bytes.end(), image.row(y), image.row(y) + image.stride());
  return bytes;
}

std::string scratch_file(const std::string& name) {
  return velmora_test::fresh_folder("png-output") + "/" + name;
}

// Writes with our writer, handing rows over `piece` rows at a time as a run does; with no
// piece, the whole image held in place as a vertical run's is.
base::Status write_ours(const std::string& path, const StripImage& image, int threads,
                            int64_t chunk_bytes, int64_t piece) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return base::failed("cannot open");
  if (piece == 0) {
    base::Status ok = scan::write_png(file, image, threads, chunk_bytes);
    std::fclose(file);
    return ok;
  }
  scan::PngWriter writer(file, image.size(), threads, chunk_bytes);
  base::Status ok = writer.begin();
  for (int64_t y = 0; ok && y < image.size().height; y += piece)
    ok = writer.add_rows(image.row(y), std::min(piece, image.size().height - y), image.stride());
  if (ok) ok = writer.finish();
  std::fclose(file);
  return ok;
}

// libpng at level 1 with the Sub filter, as velmora-scan wrote before.
void write_libpng(const std::string& path, const StripImage& image) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  const ImageSize& size = image.size();
  png_set_IHDR(png, info, static_cast<png_uint_32>(size.width),
               static_cast<png_uint_32>(size.height), size.pixel_bytes == 6 ? 16 : 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
               PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  for (int64_t y = 0; y < size.height; ++y) png_write_row(png, image.row(y));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

TEST(PngOutput, ReadsBackAsTheImage) {
  struct Case {
    const char* what;
    ImageSize size;
    int threads;
    int64_t chunk_bytes;
    int64_t piece;  // rows handed over at a time
  } cases[] = {
      {"one row", {50, 1, 3}, 4, scan::png_chunk_bytes, 1},
      {"one pixel, 16 bits", {1, 1, 6}, 2, scan::png_chunk_bytes, 1},
      {"fewer rows than threads", {300, 3, 6}, 8, 1, 1},
      {"a row each chunk", {200, 40, 3}, 3, 1, 7},
      {"small chunks", {500, 300, 3}, 2, 20000, 10},
      {"small chunks, 16 bits", {500, 300, 6}, 3, 100000, 300},
      {"default chunks", {1000, 900, 3}, 2, scan::png_chunk_bytes, 10},
      {"one chunk, one thread", {1000, 900, 3}, 1, int64_t{1} << 40, 900},
      {"rows past a window", {12000, 9, 3}, 2, 1, 3},
      {"rows past a window, 16 bits", {6000, 20, 6}, 4, 100000, 1},
      {"held, small chunks", {500, 300, 3}, 2, 20000, 0},
      {"held, a row each chunk, past a window", {12000, 9, 3}, 3, 1, 0},
      {"held, 16 bits", {6000, 20, 6}, 4, 100000, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const StripImage image = textured(c.size, static_cast<uint32_t>(c.size.width));
    const std::string path = scratch_file("out.png");
    base::Status ok = write_ours(path, image, c.threads, c.chunk_bytes, c.piece);
    ASSERT_TRUE(ok) << ok.error().message;
    const velmora_test::Png png = velmora_test::read_png(path);
    EXPECT_EQ(png.width, c.size.width);
    EXPECT_EQ(png.height, c.size.height);
    EXPECT_EQ(png.bit_depth, c.size.pixel_bytes == 6 ? 16 : 8);
    EXPECT_TRUE(png.bytes == bytes_of(image));
  }
}

// Frames of a real camera clip stacked into one tall image, about as large as a streak
// image of a minute of 1080p.
TEST(PngOutput, AsSmallAsLibpngAtLevelOne) {
  const velmora_test::Pictures pictures = velmora_test::decode_whole(
      std::string(VELMORA_TESTDATA) + "/avi/MVI_4823.AVI", false);
  ASSERT_GE(pictures.rgb.size(), 24u);
  StripImage image;
  ASSERT_TRUE(image.allocate({pictures.width, int64_t{pictures.height} * 24, 3}));
  for (size_t k = 0; k < 24; ++k)
    std::copy(pictures.rgb[k].begin(), pictures.rgb[k].end(),
              image.plane().pixels + k * pictures.rgb[k].size());
  const std::string folder = velmora_test::fresh_folder("png-size");
  const std::string theirs = folder + "/libpng.png";
  write_libpng(theirs, image);
  // Smaller chunks than ours lean harder on each chunk's dictionary.
  // Handed over (copied) and held in place alike.
  for (const int64_t chunk_bytes : {scan::png_chunk_bytes, int64_t{64} << 10}) {
    for (const int64_t piece : {image.size().height, int64_t{0}}) {
      const std::string ours = folder + "/ours.png";
      ASSERT_TRUE(write_ours(ours, image, 2, chunk_bytes, piece));
      EXPECT_LE(fs::file_size(ours), fs::file_size(theirs) * 101 / 100)
          << "chunks of " << chunk_bytes << " bytes, " << (piece ? "copied" : "held") << ": "
          << fs::file_size(ours) << ", libpng " << fs::file_size(theirs);
      EXPECT_TRUE(velmora_test::read_png(ours).bytes == bytes_of(image));
    }
  }
}

TEST(PngOutput, SaysWhatWentWrong) {
  const StripImage image = textured({400, 300, 3}, 1);
  struct Case {
    const char* what;
    const char* path;
    int64_t rows;
    const char* error;
  } cases[] = {
      {"a full disk", "/dev/full", 300, "cannot write (No space left on device)"},
      {"rows missing", "/dev/null", 299, "only 299 of the image's 300 rows came"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::FILE* file = std::fopen(c.path, "wb");
    ASSERT_NE(file, nullptr);
    scan::PngWriter writer(file, image.size(), 2, 10000);
    base::Status ok = writer.begin();
    if (ok) ok = writer.add_rows(image.row(0), c.rows, image.stride());
    if (ok) ok = writer.finish();
    std::fclose(file);
    ASSERT_FALSE(ok);
    EXPECT_EQ(ok.error().message, c.error);
  }
}

}  // namespace
