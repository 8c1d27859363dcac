// SPDX-License-Identifier: GPL-3.0-or-later
// OME-TIFF stacks written here in each DimensionOrder (and through TiffData) must give the
// kymograph and the timeline the same planes give as an ImageJ hyperstack; what cannot be
// read as one file's planes is refused.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "tests/scan/run/scan_support.h"

namespace {

constexpr int width = 10, height = 6, channels = 2, slices = 2, frames = 3;

// The plane (c, z, t) shows its own values, whichever page holds it.
uint8_t value(int c, int z, int t, int x, int y) { return uint8_t(c * 61 + z * 37 + t * 19 + x * 7 + y); }

// Page n holds plane planes[n] = {c, z, t}.
void write_pages(const std::string& path, const std::vector<std::array<int, 3>>& planes,
                 const std::string& description) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  for (size_t n = 0; n < planes.size(); ++n) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2);
    if (n == 0) TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
    for (int y = 0; y < height; ++y) {
      std::array<uint8_t, width> row;
      for (int x = 0; x < width; ++x) row[x] = value(planes[n][0], planes[n][1], planes[n][2], x, y);
      ASSERT_EQ(TIFFWriteScanline(t, row.data(), y, 0), 1);
    }
    ASSERT_TRUE(TIFFWriteDirectory(t));
  }
  TIFFClose(t);
}

// The planes in `order`'s order (its first letter after XY fastest).
std::vector<std::array<int, 3>> in_order(const std::string& order) {
  const std::map<char, int> size{{'C', channels}, {'Z', slices}, {'T', frames}}, axis{{'C', 0}, {'Z', 1}, {'T', 2}};
  std::vector<std::array<int, 3>> planes;
  for (int k = 0; k < size.at(order[4]); ++k)
    for (int j = 0; j < size.at(order[3]); ++j)
      for (int i = 0; i < size.at(order[2]); ++i) {
        std::array<int, 3> p{};
        p[axis.at(order[2])] = i, p[axis.at(order[3])] = j, p[axis.at(order[4])] = k;
        planes.push_back(p);
      }
  return planes;
}

std::string ome(const std::string& order, const std::string& pixels_more, const std::string& inside,
                int size_t = frames) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\">"
         "<Image ID=\"Image:0\"><Pixels ID=\"Pixels:0\" DimensionOrder=\"" + order +
         "\" Type=\"uint8\" SizeX=\"10\" SizeY=\"6\" SizeC=\"2\" SizeZ=\"2\" SizeT=\"" +
         std::to_string(size_t) + "\" PhysicalSizeX=\"0.108\" " + pixels_more + ">" +
         "<Channel ID=\"Channel:0:0\" SamplesPerPixel=\"1\"/><Channel ID=\"Channel:0:1\" SamplesPerPixel=\"1\"/>" +
         inside + "</Pixels></Image></OME>";
}

std::string text_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Channel 2 of slice 2 along row 3: the image's pixels and the timeline.
std::pair<std::vector<uint8_t>, std::string> kymograph(const std::string& stack) {
  const std::string out = stack + "-k.tif", csv = stack + ".csv";
  const velmora_test::Ran ran = velmora_test::run_scan(
      {"--channel", "2", "--z", "2", "--line", "0,3,9,3", "--timeline", csv, stack, out});
  EXPECT_EQ(ran.status, 0) << ran.err;
  return {velmora_test::read_tiff(out).image.bytes, text_of(csv)};
}

TEST(OmeTiff, EachOrderGivesTheHyperstacksKymograph) {
  const std::string folder = velmora_test::fresh_folder("ome-tiff");
  const std::string imagej = folder + "/imagej.tif";
  write_pages(imagej, in_order("XYCZT"),
              "ImageJ=1.54f\nimages=12\nchannels=2\nslices=2\nframes=3\nhyperstack=true\nfinterval=90\n");
  const auto want = kymograph(imagej);
  ASSERT_EQ(want.first.size(), size_t{width} * frames * 3);
  // Every page of the XYCZT order, listed backwards by TiffData one plane at a time.
  std::string reversed;
  const auto xyczt = in_order("XYCZT");
  for (int n = 0; n < 12; ++n)
    reversed += "<TiffData IFD=\"" + std::to_string(11 - n) + "\" FirstC=\"" + std::to_string(xyczt[n][0]) +
                "\" FirstZ=\"" + std::to_string(xyczt[n][1]) + "\" FirstT=\"" + std::to_string(xyczt[n][2]) +
                "\" PlaneCount=\"1\"/>";
  std::string deltas;  // 90 s apart, stated in milliseconds
  for (int t = 0; t < frames; ++t)
    deltas += "<Plane TheC=\"0\" TheZ=\"0\" TheT=\"" + std::to_string(t) + "\" DeltaT=\"" +
              std::to_string(t * 90000) + "\" DeltaTUnit=\"ms\"/>";
  const std::string minutes = "TimeIncrement=\"1.5\" TimeIncrementUnit=\"min\"";
  const struct {
    const char* order;
    std::string description;
    bool backwards;
  } cases[] = {
      {"XYCZT", ome("XYCZT", minutes, "<TiffData IFD=\"0\" PlaneCount=\"12\"/>"), false},
      {"XYCTZ", ome("XYCTZ", minutes, ""), false},
      {"XYZCT", ome("XYZCT", "TimeIncrement=\"90\"", "<TiffData/>"), false},
      {"XYZTC", ome("XYZTC", minutes, ""), false},
      {"XYTCZ", ome("XYTCZ", "", deltas), false},
      {"XYTZC", ome("XYTZC", minutes, ""), false},
      {"XYCZT", ome("XYCZT", minutes, reversed), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.order) + (c.backwards ? ", pages backwards by TiffData" : ""));
    auto planes = in_order(c.order);
    if (c.backwards) std::reverse(planes.begin(), planes.end());
    const std::string stack = folder + "/" + c.order + (c.backwards ? "-backwards" : "") + ".ome.tif";
    write_pages(stack, planes, c.description);
    EXPECT_EQ(kymograph(stack), want);
  }
}

TEST(OmeTiff, RefusesWhatIsNotOneFilesPlanes) {
  const std::string folder = velmora_test::fresh_folder("ome-tiff-refused");
  const std::string whole = ome("XYCZT", "", "");
  const struct {
    const char* name;
    std::string description;
    const char* message;
  } cases[] = {
      {"another file's planes",
       ome("XYCZT", "", "<TiffData IFD=\"0\" PlaneCount=\"6\"><UUID FileName=\"b.ome.tif\">urn:uuid:1</UUID></TiffData>"
                        "<TiffData IFD=\"0\" FirstT=\"1\" PlaneCount=\"6\"/>"),
       "spread over several files (b.ome.tif)"},
      {"more planes than pages", ome("XYCZT", "", "", 4), "puts planes in page 16, the file has 12 pages"},
      {"damaged XML", whole.substr(0, whole.size() - 20), "OME-XML is damaged"},
      {"an unknown unit", ome("XYCZT", "TimeIncrement=\"2\" TimeIncrementUnit=\"fortnight\"", ""),
       "\"fortnight\" is not a unit of time"},
      {"an order that is none", ome("XYCZZ", "", ""), "DimensionOrder \"XYCZZ\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string stack = folder + "/" + c.name + ".ome.tif", out = folder + "/k.tif";
    write_pages(stack, in_order("XYCZT"), c.description);
    const velmora_test::Ran ran =
        velmora_test::run_scan({"--channel", "1", "--z", "1", "--line", "0,3,9,3", stack, out});
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find(c.message), std::string::npos) << ran.err;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

}  // namespace
