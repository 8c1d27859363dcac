// SPDX-License-Identifier: GPL-3.0-or-later
// TIFF stacks written here with libtiff, page values known: each strip must be its own
// page's row, the pages picked in ImageJ's order, and what is not a stack of alike pages
// refused by name. A stack cut short keeps the pages before the cut, with a warning.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
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
  uint16_t compression = COMPRESSION_ADOBE_DEFLATE;  // NONE: samples read where they lie
};

// Sample c of pixel (x, y) of page p: a different value for nearly every place.
unsigned value(const Stack& s, int p, int x, int y, int c) {
  return (p * 4099u + x * 257u + y * 11u + c * 31u) % (1u << s.value_bits);
}

// A float page's sample: fractions and a sign, not whole numbers.
float float_value(unsigned v) { return static_cast<float>(v) / 8.0f - 100.25f; }

// The value stored at (x, y) of page p, as a float page holds it or a whole number.
double stored(const Stack& s, int p, int x, int y) {
  const unsigned v = value(s, p, x, y, 0);
  return s.format == SAMPLEFORMAT_IEEEFP ? double{float_value(v)} : double(v);
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
    TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
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
          if (bytes == 4) reinterpret_cast<float*>(row.data())[x * per_row + c] = float_value(v);
          else if (bytes == 2) reinterpret_cast<uint16_t*>(row.data())[x * per_row + c] = uint16_t(v);
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
      {"uncompressed 8-bit grey in strips", {.compression = COMPRESSION_NONE}, {}, {0, 1, 2, 3, 4, 5}},
      {"uncompressed rows as wide as the picture's",
       {.width = 64, .height = 20, .bits = 16, .value_bits = 16, .rows = 3, .compression = COMPRESSION_NONE},
       {}, {0, 1, 2, 3, 4, 5}},
      {"uncompressed 16-bit grey in tiles",
       {.width = 40, .height = 20, .bits = 16, .value_bits = 16, .tile = 16, .compression = COMPRESSION_NONE},
       {}, {0, 1, 2, 3, 4, 5}},
      {"uncompressed 16-bit RGB",
       {.bits = 16, .samples = 3, .photometric = PHOTOMETRIC_RGB, .value_bits = 16, .compression = COMPRESSION_NONE},
       {"--from", "1", "--every", "2"}, {1, 3, 5}},
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
    // Grey stays grey, of its own depth.
    ASSERT_EQ(k.channels, c.stack.samples);
    ASSERT_EQ(k.bit_depth, c.stack.bits);
    std::vector<unsigned> got, want;
    for (size_t t = 0; t < c.pages.size(); ++t)
      for (int x = 0; x < k.width; ++x)
        for (int comp = 0; comp < k.channels; ++comp) {
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

// The stack's directories are read through the stack's own buffered file: a cut anywhere in
// or around one must end the stack where libtiff's own reading of the file ends it, with its
// words.
TEST(TiffStack, ACutDirectoryEndsTheStackWhereLibtiffEndsIt) {
  const std::string folder = velmora_test::fresh_folder("tiff-stack-cut-directory");
  const Stack s{.pages = 5, .bits = 16, .value_bits = 16, .compression = COMPRESSION_NONE};
  const std::string whole = folder + "/whole.tif", cut = folder + "/cut.tif";
  write_stack(whole, s);
  TIFF* t = TIFFOpen(whole.c_str(), "r");
  ASSERT_TRUE(t != nullptr && TIFFSetDirectory(t, 3));
  const auto directory = static_cast<int64_t>(TIFFCurrentDirOffset(t));
  TIFFClose(t);
  static std::string said;
  TIFFSetErrorHandler([](const char*, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    said = text;
  });
  for (const int64_t past : {-1, 0, 1, 6, 60, 150, 200, 400}) {
    SCOPED_TRACE(past);
    std::filesystem::copy_file(whole, cut, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(cut, static_cast<uintmax_t>(directory + past));
    int pages = 0;
    TIFF* c = TIFFOpen(cut.c_str(), "r");
    ASSERT_NE(c, nullptr);
    while (++pages, TIFFReadDirectory(c)) {}
    TIFFClose(c);
    const velmora_test::Ran ran = kymograph(cut, folder + "/k.tif", 4, s.width, {"--force"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_NE(ran.err.find("breaks off after page " + std::to_string(pages) + " (" + said + ")"),
              std::string::npos) << ran.err;
  }
}

// Bilinear at (x, y) of page p as the manual states it, written apart from the sampler: the
// place rounded to 1/1024 pixel, the four pixel centres around it weighted by distance;
// whole-number samples rounded half up, float ones not rounded.
double bilinear(const Stack& s, int p, double x, double y) {
  const double qx = std::clamp(std::round(x * 1024) / 1024, 0.0, s.width - 1.0);
  const double qy = std::clamp(std::round(y * 1024) / 1024, 0.0, s.height - 1.0);
  const int x0 = static_cast<int>(qx), y0 = static_cast<int>(qy);
  const double fx = qx - x0, fy = qy - y0;
  const int x1 = fx > 0 ? x0 + 1 : x0, y1 = fy > 0 ? y0 + 1 : y0;
  const double v = (1 - fx) * (1 - fy) * stored(s, p, x0, y0) + fx * (1 - fy) * stored(s, p, x1, y0) +
                   (1 - fx) * fy * stored(s, p, x0, y1) + fx * fy * stored(s, p, x1, y1);
  return s.format == SAMPLEFORMAT_IEEEFP ? double{static_cast<float>(v)} : std::floor(v + 0.5);
}

// The image's samples as numbers, whatever their type.
std::vector<double> samples_of(const velmora_test::Png& k) {
  std::vector<double> all;
  for (int y = 0; y < k.height; ++y)
    for (int x = 0; x < k.width; ++x) {
      if (k.bit_depth == 32) {
        float f;
        std::memcpy(&f, k.bytes.data() + (static_cast<size_t>(y) * k.width + x) * 4, 4);
        all.push_back(f);
      } else {
        all.push_back(k.sample(x, y, 0));
      }
    }
  return all;
}

TEST(TiffStack, GreyValuesEqualABilinearReferenceAlongTheLine) {
  const std::string folder = velmora_test::fresh_folder("tiff-stack-grey");
  struct Case {
    const char* name;
    Stack stack;
    const char* reduce;  // with three lines; null: one line
    const char* output;
    std::array<double, 4> line = {1.3, 2.6, 17.9, 9.45};  // from x, y to x, y
  };
  const Stack f32{.width = 20, .height = 14, .pages = 4, .bits = 32, .format = SAMPLEFORMAT_IEEEFP,
                  .value_bits = 12};
  const Case cases[] = {
      {"8-bit", {.width = 20, .height = 14}, nullptr, "png"},
      // Every place halfway between two pixels: halves round up.
      {"16-bit halfway", {.width = 20, .height = 14, .bits = 16, .value_bits = 16}, nullptr, "png",
       {0.5, 4, 18.5, 4}},
      {"16-bit tiled", {.width = 20, .height = 14, .bits = 16, .value_bits = 16, .tile = 16},
       nullptr, "tif"},
      {"12 in 16, mean", {.width = 20, .height = 14, .bits = 16, .value_bits = 12}, "mean", "png"},
      {"palette, max", {.width = 20, .height = 14, .photometric = PHOTOMETRIC_PALETTE}, "max", "tif"},
      {"float", f32, nullptr, "tif"},
      {"float, mean", f32, "mean", "tif"},
      {"float, median", f32, "median", "tif"},
  };
  int threads = 0;
  for (const Case& c : cases) {
    const auto [x0, y0, x1, y1] = c.line;
    const double length = std::hypot(x1 - x0, y1 - y0);
    const auto samples = static_cast<int>(std::floor(length)) + 1;
    char line[96];
    std::snprintf(line, sizeof line, "%g,%g,%g,%g", x0, y0, x1, y1);
    threads = threads % 3 + 1;
    SCOPED_TRACE(std::string(c.name) + ", threads " + std::to_string(threads));
    const std::string stack = folder + "/" + c.name + ".tif";
    const std::string out = folder + "/" + c.name + "-k." + c.output;
    write_stack(stack, c.stack);
    std::vector<std::string> args = {"--threads", std::to_string(threads), "--line", line};
    if (c.reduce) args.insert(args.end(), {"--thickness", "3", "--reduce", c.reduce});
    const bool real = c.stack.format == SAMPLEFORMAT_IEEEFP;
    const std::string csv = folder + "/" + c.name + ".csv";
    if (!real) args.insert(args.end(), {"--stats", "--timeline", csv});
    args.insert(args.end(), {stack, out});
    const velmora_test::Ran ran = velmora_test::run_scan(args);
    ASSERT_EQ(ran.status, 0) << ran.err;
    std::vector<double> want;
    for (int p = 0; p < c.stack.pages; ++p)
      for (int i = 0; i < samples; ++i) {
        const double x = x0 + (x1 - x0) * i / length, y = y0 + (y1 - y0) * i / length;
        if (!c.reduce) {
          want.push_back(bilinear(c.stack, p, x, y));
          continue;
        }
        // Three lines a pixel apart across the path.
        const double nx = -(y1 - y0) / length, ny = (x1 - x0) / length;
        std::vector<double> across;
        for (int j = -1; j <= 1; ++j) across.push_back(bilinear(c.stack, p, x + j * nx, y + j * ny));
        std::sort(across.begin(), across.end());
        const double sum = across[0] + across[1] + across[2];
        want.push_back(std::string(c.reduce) == "max"      ? across[2]
                       : std::string(c.reduce) == "median" ? across[1]
                       : real                              ? double{static_cast<float>(sum / 3)}
                                                           : std::floor(sum / 3 + 0.5));
      }
    const velmora_test::Png k = std::string(c.output) == "png" ? velmora_test::read_png(out)
                                                               : velmora_test::read_tiff(out).image;
    EXPECT_EQ(samples_of(k), want);
    if (real) continue;
    // --stats: each page's strip is one grey channel, its figures those of its samples.
    std::ifstream figures(csv);
    std::string row;
    std::getline(figures, row);
    EXPECT_TRUE(row.ends_with(",note,grey_mean,grey_min,grey_max,grey_sd")) << row;
    for (int p = 0; p < c.stack.pages && std::getline(figures, row); ++p) {
      const std::vector<double> v(want.begin() + p * samples, want.begin() + (p + 1) * samples);
      double sum = 0, spread = 0;
      for (double x : v) sum += x;
      const double mean = sum / samples;
      for (double x : v) spread += (x - mean) * (x - mean) / samples;
      const double figures_wanted[] = {mean, *std::min_element(v.begin(), v.end()),
                                       *std::max_element(v.begin(), v.end()), std::sqrt(spread)};
      std::vector<double> cells;
      for (size_t at = 0; (at = row.find(',', at)) != std::string::npos;) cells.push_back(std::atof(row.c_str() + ++at));
      ASSERT_GE(cells.size(), 4u) << row;
      for (int i = 0; i < 4; ++i) EXPECT_NEAR(cells[cells.size() - 4 + i], figures_wanted[i], 1e-6) << row;
    }
  }
}

// The calibration as tifffile reads it back: ImageJ's keys and the resolution tags.
std::string calibration_of(const std::string& path) {
  const std::string script =
      "import sys, tifffile\n"
      "t = tifffile.TiffFile(sys.argv[1]); p = t.pages[0]; m = t.imagej_metadata or {}\n"
      "r = lambda n: '%.6g' % (p.tags[n].value[0] / p.tags[n].value[1]) if n in p.tags else '-'\n"
      "print(m.get('unit', '-'), m.get('yunit', '-'), r('XResolution'), r('YResolution'),\n"
      "      p.tags['ResolutionUnit'].value if 'ResolutionUnit' in p.tags else '-',\n"
      "      '%g' % m['finterval'] if 'finterval' in m else '-', len(t.pages), p.dtype,\n"
      "      m.get('channels', 1), t.series[0].axes, int(t.asarray().flat[-1]), end='')\n";
  const std::string command = "/usr/bin/python3 -c \"$VELMORA_SCRIPT\" '" + path + "' 2>&1";
  setenv("VELMORA_SCRIPT", script.c_str(), 1);
  std::string said;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  char buffer[256];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe.get())) said += buffer;
  return said;
}

TEST(TiffStack, ImageJCalibrationReadsBackInTifffile) {
  if (std::system("/usr/bin/python3 -c 'import tifffile' 2>/dev/null") != 0)
    GTEST_SKIP() << "no tifffile for /usr/bin/python3";
  const std::string folder = velmora_test::fresh_folder("tiff-stack-imagej");
  const std::string calibrated = imagej(6, 1, 1, 6) + "unit=micron\nfinterval=0.5\n";
  struct Case {
    const char* name;
    std::string description;
    float resolution;  // pixels per unit; 0: none
    std::vector<std::string> args;
    // unit, yunit, X and Y pixels per unit, ResolutionUnit, finterval, pages, type,
    // channels, axes as tifffile reads them
    const char* want;
    int last_page;  // of the image's last sample (the last channel's last time point)
    int pages = 6;
  };
  const Case cases[] = {
      {"as the stack says", calibrated, 4, {}, "micron sec 4 2 1 0.5 1 uint8 1 YX", 5},
      {"every second", calibrated, 4, {"--every", "2"}, "micron sec 4 1 1 1 1 uint8 1 YX", 4},
      {"overridden", calibrated, 4, {"--pixel-size", "250nm", "--frame-interval", "2min"},
       "nm sec 0.004 0.00833333 1 120 1 uint8 1 YX", 5},
      {"time across", calibrated, 4, {"--time-axis", "right"}, "sec micron 2 4 1 0.5 1 uint8 1 YX", 5},
      {"set on a bare stack", "", 0, {"--pixel-size", "0.108um", "--frame-interval", "500ms"},
       "micron sec 9.25926 2 1 0.5 1 uint8 1 YX", 5},
      {"nothing known", "", 0, {}, "- - - - - - 1 uint8 1 YX", 5},
      // Pages: channel fastest, then time.
      {"every channel", imagej(12, 2, 1, 6) + "unit=micron\nfinterval=0.5\n", 4, {},
       "micron sec 4 2 1 0.5 2 uint8 2 CYX", 11, 12},
      {"channels listed", imagej(12, 3, 1, 4) + "unit=micron\nfinterval=0.5\n", 4,
       {"--channel", "3,1"}, "micron sec 4 2 1 0.5 2 uint8 2 CYX", 9, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string stack = folder + "/" + c.name + ".tif", out = folder + "/" + c.name + "-k.tif";
    const Stack s{.pages = c.pages, .description = c.description};
    write_stack(stack, s);
    if (c.resolution > 0) {
      // The pixel size as ImageJ keeps it, on the first page.
      TIFF* t = TIFFOpen(stack.c_str(), "r+");
      ASSERT_NE(t, nullptr);
      TIFFSetField(t, TIFFTAG_XRESOLUTION, c.resolution);
      TIFFSetField(t, TIFFTAG_YRESOLUTION, c.resolution);
      TIFFRewriteDirectory(t);
      TIFFClose(t);
    }
    const velmora_test::Ran ran = kymograph(stack, out, 4, 12, c.args);
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(calibration_of(out), c.want + (" " + std::to_string(value(s, c.last_page, 11, 4, 0))));
  }
}

TEST(TiffStack, RefusesWhatAGreyStackOrItsCalibrationCannotBe) {
  const std::string folder = velmora_test::fresh_folder("tiff-stack-grey-refused");
  struct Case {
    const char* name;
    Stack stack;
    std::vector<std::string> args;
    const char* output;
    const char* message;
  };
  const Stack f32{.bits = 32, .format = SAMPLEFORMAT_IEEEFP};
  const Case cases[] = {
      {"an unknown length unit", {}, {"--pixel-size", "2furlong"}, "k.tif", "unknown unit furlong"},
      {"a size without unit", {}, {"--pixel-size", "0.1"}, "k.tif", "no unit"},
      {"an unknown time unit", {}, {"--frame-interval", "2days"}, "k.tif", "unknown unit days"},
      {"no interval", {}, {"--frame-interval", "0s"}, "k.tif", "above 0"},
      {"float to PNG", f32, {}, "k.png", "written to a TIFF OUTPUT only"},
      {"grey to JPEG", {}, {}, "k.jpg", "PNG or TIFF OUTPUT only"},
      {"a size for a PNG", {}, {"--pixel-size", "1um"}, "k.png", "only for an ImageJ TIFF"},
      {"ImageJ as PNG", {}, {"--imagej"}, "k.png", "only for a TIFF OUTPUT"},
      {"ImageJ compressed", {}, {"--compress", "lzw"}, "k.tif", "uncompressed strips"},
      {"channels to PNG", {.description = imagej(6, 2, 1, 3)}, {}, "k.png", "TIFF OUTPUT (.tif) only"},
      {"figures of floats", f32, {"--stats", "--timeline", "floats.csv"}, "k.tif", "not for 32-bit float"},
      {"a listed channel past the last", {.description = imagej(6, 2, 1, 3)}, {"--channel", "1,3"},
       "k.tif", "has 2 channel(s)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string stack = folder + "/" + c.name + ".tif", out = folder + "/" + c.output;
    write_stack(stack, c.stack);
    const velmora_test::Ran ran = kymograph(stack, out, 4, 11, c.args);
    EXPECT_TRUE(ran.status != 0 && ran.err.find(c.message) != std::string::npos &&
                !std::filesystem::exists(out))
        << ran.status << " " << ran.err;
  }
}

}  // namespace
