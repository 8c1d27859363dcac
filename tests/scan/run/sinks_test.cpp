// SPDX-License-Identifier: GPL-3.0-or-later
// Every sink that writes an image, fed the same strips as a run feeds them, writes a file
// that libpng or libtiff reads back as the very image, whichever way it is cut, whatever
// its depth, held whole, streamed, in bands or grown.
#include <gtest/gtest.h>

#include <fstream>

#include "scan/sinks.h"
#include "tests/scan/run/scan_support.h"

namespace {

using scan::ImageSize;
using strips::Cut;

// The byte of pixel (x, y), component b, of the whole image.
uint8_t pattern(int64_t x, int64_t y, int b) { return static_cast<uint8_t>(x * 7 + y * 13 + b * 61); }

TEST(ScanSinks, ReadBackAsTheStripsTheyTook) {
  struct Case {
    const char* what;
    Cut cut;
    int pixel_bytes;
    const char* name;
    std::function<std::unique_ptr<scan::Sink>(const scan::SinkSetting&)> make;
  } cases[] = {
      {"held PNG", Cut::vertical, 3, "a.png", scan::held_png},
      {"streamed PNG", Cut::horizontal, 3, "c.png", scan::streamed_png},
      {"TIFF bands, columns", Cut::vertical, 6, "d.tif", scan::tiff_bands},
      {"TIFF bands, rows", Cut::horizontal, 3, "e.tif", scan::tiff_bands},
      {"grown PNG", Cut::horizontal, 6, "f.png",
       [](const scan::SinkSetting& s) -> std::unique_ptr<scan::Sink> {
         return std::make_unique<scan::GrowingSink>(s, scan::Format::png, scan::FlushSpec{}, false);
       }},
      {"grown TIFF", Cut::vertical, 3, "g.tif",
       [](const scan::SinkSetting& s) -> std::unique_ptr<scan::Sink> {
         return std::make_unique<scan::GrowingSink>(s, scan::Format::tiff, scan::FlushSpec{}, true);
       }},
  };
  const std::string folder = velmora_test::fresh_folder("sinks");
  constexpr int64_t strips = 70, lines = 3, across = 290;  // past one TIFF band of 256
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const bool vertical = c.cut == Cut::vertical;
    scan::SinkSetting setting;
    setting.output = folder + "/" + c.name;
    setting.cut = c.cut;
    setting.strip_lines = lines;
    setting.threads = 2;
    const ImageSize whole = vertical ? ImageSize{strips * lines, across, c.pixel_bytes}
                                     : ImageSize{across, strips * lines, c.pixel_bytes};
    const bool grows = std::string(c.what).rfind("grown", 0) == 0;
    ImageSize one = whole;
    (vertical ? one.width : one.height) = lines;
    std::unique_ptr<scan::Sink> sink = c.make(setting);
    scan::StripImage strip;
    ASSERT_TRUE(sink->begin(grows ? one : whole, strip));
    for (int64_t k = 0; k < strips; ++k) {
      const strips::BytePlane plane = strip.plane();
      for (int64_t y = 0; y < one.height; ++y)
        for (int64_t x = 0; x < one.width; ++x)
          for (int b = 0; b < c.pixel_bytes; ++b)
            plane.pixels[y * plane.stride + x * c.pixel_bytes + b] = pattern(
                vertical ? k * lines + x : x, vertical ? y : k * lines + y, b);
      ASSERT_TRUE(sink->take(scan::Laid{k, strip, nullptr, {}}));
    }
    ASSERT_TRUE(sink->finish());
    ASSERT_TRUE(sink->seal());
    ASSERT_TRUE(sink->file()->commit(false));
    const velmora_test::Png read = std::string(c.name).ends_with(".tif")
                                       ? velmora_test::read_tiff(setting.output).image
                                       : velmora_test::read_png(setting.output);
    ASSERT_EQ(read.width, whole.width);
    ASSERT_EQ(read.height, whole.height);
    std::vector<uint8_t> expected;
    for (int64_t y = 0; y < whole.height; ++y)
      for (int64_t x = 0; x < whole.width; ++x)
        for (int b = 0; b < c.pixel_bytes; ++b) expected.push_back(pattern(x, y, b));
    EXPECT_TRUE(read.bytes == expected);
  }
}

// An image and its timeline land together or not at all: a file another program puts in
// one's place takes the other back, and leaves that program's file as it was.
TEST(ScanSinks, AnImageAndItsTimelineLandAllOrNone) {
  const struct {
    const char* taken;  // the name another program writes before the files land
    std::vector<std::string> names;
  } cases[] = {
      {nullptr, {"out.csv", "out.png"}},
      {"out.png", {"out.png"}},
      {"out.csv", {"out.csv"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.taken ? c.taken : "none");
    const std::string folder = velmora_test::fresh_folder("sinks-land");
    scan::SinkSetting setting;
    setting.output = folder + "/out.png";
    scan::SinkSet sinks;
    sinks.add(scan::held_png(setting));
    sinks.add(scan::timeline_file(setting, folder + "/out.csv", std::vector<scan::StripRecord>(4),
                                  [] { return scan::TimelineHead{}; }));
    scan::StripImage strip;
    ASSERT_TRUE(sinks.begin(ImageSize{4, 5, 3}, strip));
    for (int64_t k = 0; k < 4; ++k) ASSERT_TRUE(sinks.take(scan::Laid{k, strip, nullptr, {}}));
    ASSERT_TRUE(sinks.finish());
    ASSERT_TRUE(sinks.seal());
    if (c.taken) std::ofstream(folder + "/" + c.taken) << "another program's";
    EXPECT_EQ(static_cast<bool>(sinks.land()), c.taken == nullptr);
    sinks.discard();
    EXPECT_EQ(velmora_test::names_in(folder), c.names);
    std::ifstream kept(folder + "/" + (c.taken ? c.taken : "none"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), c.taken ? "another program's" : "");
  }
}

}  // namespace
