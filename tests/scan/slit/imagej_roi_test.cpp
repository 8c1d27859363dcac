// SPDX-License-Identifier: GPL-3.0-or-later
// ImageJ selection files written here byte by byte, as ImageJ's RoiDecoder lays them out:
// each line kind gives its points, other kinds are refused by name, and no cut or flipped
// byte makes the parser read past the file. A set makes a slit of each selection, the
// image its points make as --line, its width as --thickness.
#include <gtest/gtest.h>
#include <zlib.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "scan/slit/imagej_roi.h"
#include "tools/clipwriter/clip_writer.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/written.h"

namespace {

struct Roi {
  int kind = 3, version = 228, width = 0, options = 0, top = 0, left = 0;
  std::vector<float> line = {};  // x1, y1, x2, y2 of a straight line
  std::vector<int> xs = {}, ys = {};  // whole-pixel points
  std::vector<float> fx = {}, fy = {};  // sub-pixel points
  std::string name = {};
};

void put16(std::vector<uint8_t>& b, size_t at, int v) {
  b[at] = uint8_t(v >> 8);
  b[at + 1] = uint8_t(v);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
}
void append32(std::vector<uint8_t>& b, uint32_t v) {
  b.resize(b.size() + 4);
  put32(b, b.size() - 4, v);
}

std::vector<uint8_t> bytes_of(const Roi& r) {
  std::vector<uint8_t> b(64);
  std::memcpy(b.data(), "Iout", 4);
  put16(b, 4, r.version);
  b[6] = uint8_t(r.kind);
  put16(b, 8, r.top);
  put16(b, 10, r.left);
  put16(b, 16, static_cast<int>(r.xs.size()));
  for (size_t i = 0; i < r.line.size(); ++i) put32(b, 18 + 4 * i, std::bit_cast<uint32_t>(r.line[i]));
  put16(b, 34, r.width);
  put16(b, 50, r.options);
  for (const std::vector<int>* v : {&r.xs, &r.ys})
    for (size_t i = 0; i < v->size(); ++i) {
      b.resize(b.size() + 2);
      put16(b, b.size() - 2, (*v)[i] - (v == &r.xs ? r.left : r.top));
    }
  for (const std::vector<float>* v : {&r.fx, &r.fy})
    for (float f : *v) append32(b, std::bit_cast<uint32_t>(f));
  if (!r.name.empty()) {
    const size_t second = b.size();
    put32(b, 60, static_cast<uint32_t>(second));
    b.resize(second + 64);
    put32(b, second + 16, static_cast<uint32_t>(b.size()));
    put32(b, second + 20, static_cast<uint32_t>(r.name.size()));
    for (char c : r.name) {
      b.resize(b.size() + 2);
      put16(b, b.size() - 2, c);
    }
  }
  return b;
}

TEST(ImageJRoi, LinesGiveTheirPoints) {
  struct Case {
    const char* name;
    Roi roi;
    std::vector<double> points;  // x0, y0, x1, y1, ...
    double width;
  };
  const Case cases[] = {
      {"straight", {.line = {1.5f, 2, 30, 4.25f}}, {1.5, 2, 30, 4.25}, 0},
      {"segmented", {.kind = 5, .width = 5, .top = 3, .left = 7, .xs = {7, 20, 9}, .ys = {3, 3, 40}},
       {7, 3, 20, 3, 9, 40}, 5},
      {"segmented, sub-pixel", {.kind = 5, .options = 128, .xs = {1, 2}, .ys = {1, 2},
                                .fx = {1.25f, 2.5f}, .fy = {0.75f, 9}}, {1.25, 0.75, 2.5, 9}, 0},
      {"freehand line", {.kind = 4, .top = 1, .left = 1, .xs = {1, 2, 4, 5}, .ys = {1, 2, 2, 3},
                         .name = "axon 1"}, {1, 1, 2, 2, 4, 2, 5, 3}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto roi = scan::parse_imagej_roi(bytes_of(c.roi));
    ASSERT_TRUE(roi) << roi.error().message;
    std::vector<double> points;
    for (const scan::Point& p : roi->path) points.insert(points.end(), {p.x, p.y});
    EXPECT_EQ(points, c.points);
    EXPECT_EQ(roi->width, c.width);
    EXPECT_EQ(roi->name, c.roi.name);
  }
}

TEST(ImageJRoi, RefusesWhatIsNotALine) {
  struct Case {
    Roi roi;
    size_t keep;  // bytes kept; 0: all
    const char* message;
  };
  const Case cases[] = {
      {{.kind = 1}, 0, "is a rectangle"},
      {{.kind = 2}, 0, "is an oval"},
      {{.kind = 0, .xs = {1, 2, 3}, .ys = {1, 5, 1}}, 0, "is a polygon"},
      {{.kind = 7, .xs = {1, 2, 3}, .ys = {1, 5, 1}}, 0, "is a freehand area"},
      {{.kind = 5, .options = 1, .xs = {1, 2, 3}, .ys = {1, 5, 1}}, 0, "spline-fitted"},
      {{.kind = 5, .xs = {1, 2, 3}, .ys = {1, 5, 1}}, 70, "ends inside its 3 points"},
      {{.kind = 5, .xs = {1}, .ys = {1}}, 0, "a line of 1 point"},
      {{}, 40, "not an ImageJ selection"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<uint8_t> b = bytes_of(c.roi);
    if (c.keep > 0) b.resize(c.keep);
    const auto roi = scan::parse_imagej_roi(b);
    ASSERT_FALSE(roi);
    EXPECT_NE(roi.error().message.find(c.message), std::string::npos) << roi.error().message;
  }
  // Every cut and every flipped byte of a named sub-pixel line: an answer, never a read
  // past the end (the sanitizer builds watch the reads).
  const std::vector<uint8_t> whole = bytes_of(
      {.kind = 5, .options = 128, .xs = {1, 2}, .ys = {1, 2}, .fx = {1, 2}, .fy = {1, 2}, .name = "n"});
  for (size_t n = 0; n < whole.size(); ++n) {
    std::vector<uint8_t> b(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(n));
    EXPECT_FALSE(scan::parse_imagej_roi(b) && n < 64) << n;
    b = whole;
    b[n] ^= 0xff;
    (void)scan::parse_imagej_roi(b);
  }
}

// A zip archive as ImageJ's ROI Manager saves one: every entry deflated, sizes in the
// central directory; `stored` entries kept uncompressed instead.
std::vector<uint8_t> zip_of(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& entries,
                            bool stored = false) {
  std::vector<uint8_t> zip, directory;
  const auto le = [](std::vector<uint8_t>& b, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> (8 * i)));
  };
  for (const auto& [name, data] : entries) {
    std::vector<uint8_t> packed(data.size() + 64);
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = packed.data();
    z.avail_out = static_cast<uInt>(packed.size());
    deflate(&z, Z_FINISH);
    packed.resize(z.total_out);
    deflateEnd(&z);
    if (stored) packed = data;
    const uint32_t crc = static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
    const uint32_t local = static_cast<uint32_t>(zip.size());
    for (std::vector<uint8_t>* b : {&zip, &directory}) {
      le(*b, b == &zip ? 0x04034b50 : 0x02014b50, 4);
      if (b == &directory) le(*b, 20, 2);
      le(*b, 20, 2), le(*b, 0, 2), le(*b, stored ? 0 : 8, 2), le(*b, 0, 4), le(*b, crc, 4);
      le(*b, static_cast<uint32_t>(packed.size()), 4), le(*b, static_cast<uint32_t>(data.size()), 4);
      le(*b, static_cast<uint32_t>(name.size()), 2), le(*b, 0, 2);
      if (b == &directory) le(*b, 0, 2), le(*b, 0, 2), le(*b, 0, 2), le(*b, 0, 4), le(*b, local, 4);
      b->insert(b->end(), name.begin(), name.end());
    }
    zip.insert(zip.end(), packed.begin(), packed.end());
  }
  const uint32_t at = static_cast<uint32_t>(zip.size());
  zip.insert(zip.end(), directory.begin(), directory.end());
  le(zip, 0x06054b50, 4), le(zip, 0, 4);
  le(zip, static_cast<uint32_t>(entries.size()), 2), le(zip, static_cast<uint32_t>(entries.size()), 2);
  le(zip, static_cast<uint32_t>(directory.size()), 4), le(zip, at, 4), le(zip, 0, 2);
  return zip;
}

TEST(ImageJRoi, ASetGivesASlitForEachSelection) {
  const std::vector<uint8_t> named = bytes_of({.line = {1, 2, 3, 4}, .name = "tip"});
  const std::vector<uint8_t> plain = bytes_of({.kind = 5, .xs = {5, 6, 9}, .ys = {1, 1, 4}});
  for (const bool stored : {false, true}) {
    SCOPED_TRACE(stored ? "stored" : "deflated");
    const auto set = scan::parse_roi_set(zip_of({{"0001-0002.roi", named}, {"0003-0004.roi", plain}}, stored));
    ASSERT_TRUE(set) << set.error().message;
    ASSERT_EQ(set->size(), 2u);
    EXPECT_EQ((*set)[0].name, "tip");
    EXPECT_EQ((*set)[1].name, "0003-0004");
    EXPECT_EQ((*set)[1].path.size(), 3u);
  }
  const auto refused = scan::parse_roi_set(zip_of({{"a.roi", named}, {"box.roi", bytes_of({.kind = 1})}}));
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message, "box.roi: the selection is a rectangle, not a line");
  // OUTPUT's %n takes each selection's name; a width is --thickness.
  const std::string folder = velmora_test::fresh_folder("imagej-roi-set");
  const std::string clip = folder + "/clip.avi", out = folder + "/out/";
  ASSERT_TRUE(velmora_test::written(clipwriter::write_avi(
      clip, {.width = 64, .height = 48, .frames = 4}, clipwriter::test_pattern)));
  const auto wide = bytes_of({.kind = 5, .width = 3, .top = 4, .left = 5, .xs = {5, 40, 60}, .ys = {4, 30, 30}});
  const std::vector<uint8_t> zip = zip_of({{"0001-0002.roi", named}, {"0003-0004.roi", wide}});
  std::ofstream(folder + "/set.zip", std::ios::binary).write(reinterpret_cast<const char*>(zip.data()), zip.size());
  std::filesystem::create_directory(out);
  const velmora_test::Ran by_roi = velmora_test::run_scan({"--roi", folder + "/set.zip", clip, out + "k-%n.png"});
  const velmora_test::Ran by_line = velmora_test::run_scan(
      {"--line", "5,4,40,30,60,30", "--thickness", "3", clip, folder + "/line.png"});
  ASSERT_EQ(by_roi.status + by_line.status, 0) << by_roi.err << by_line.err;
  EXPECT_EQ(velmora_test::names_in(out), (std::vector<std::string>{"k-0003-0004.png", "k-tip.png"}));
  EXPECT_EQ(velmora_test::read_png(out + "k-0003-0004.png").bytes,
            velmora_test::read_png(folder + "/line.png").bytes);
}

// A damaged archive is refused with its cause, the entry named where one entry is at fault.
TEST(ImageJRoi, ADamagedSetSaysWhy) {
  const std::vector<uint8_t> roi = bytes_of({.line = {1, 2, 3, 4}});
  const std::vector<uint8_t> whole = zip_of({{"a.roi", roi}}, true);
  std::vector<uint8_t> cut(whole.begin(), whole.begin() + 40), flipped = whole, huge = whole;
  flipped[30 + 5 + 20] ^= 0xff;  // inside the stored selection: its CRC no longer holds
  const size_t directory = whole.size() - 22 - 46 - 5;
  huge[directory + 24 + 2] = 0x20;  // the declared size becomes 2 MB and more
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
      {cut, "not a zip archive"}, {flipped, "a.roi: its data cannot be read"}, {huge, "a.roi: too large"}};
  for (const auto& [zip, why] : cases) {
    const auto set = scan::parse_roi_set(zip);
    EXPECT_TRUE(!set && set.error().message.find(why) != std::string::npos) << why << ": " << (set ? "taken" : set.error().message);
  }
}

}  // namespace
