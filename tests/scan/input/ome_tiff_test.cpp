// SPDX-License-Identifier: GPL-3.0-or-later
// OME-TIFF stacks written here in each DimensionOrder (and through TiffData) must give the
// kymograph and the timeline the same planes give as an ImageJ hyperstack; what cannot be
// read as one file's planes is refused.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/scan/run/scan_support.h"

namespace {

const std::map<char, int> sizes{{'C', 2}, {'Z', 2}, {'T', 3}};

// The planes {c, z, t} in `order`'s order (XY, then the fastest), written one a page; each
// shows its own values, whichever page holds it.
std::vector<std::array<int, 3>> in_order(const std::string& order) {
  std::vector<std::array<int, 3>> planes(12);
  for (int n = 0; n < 12; ++n)
    for (int i = 2, rest = n; i < 5; rest /= sizes.at(order[i]), ++i)
      planes[n][std::string("CZT").find(order[i])] = rest % sizes.at(order[i]);
  return planes;
}

void write_pages(const std::string& path, const std::vector<std::array<int, 3>>& planes, const std::string& text) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  for (size_t n = 0; n < planes.size(); ++n) {
    for (auto [tag, value] : {std::pair{TIFFTAG_IMAGEWIDTH, 10}, {TIFFTAG_IMAGELENGTH, 6}, {TIFFTAG_BITSPERSAMPLE, 8},
                              {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK}, {TIFFTAG_ROWSPERSTRIP, 2}})
      TIFFSetField(t, tag, value);
    if (n == 0) TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, text.c_str());
    for (int y = 0; y < 6; ++y) {
      std::array<uint8_t, 10> row;
      for (int x = 0; x < 10; ++x) row[x] = uint8_t(planes[n][0] * 61 + planes[n][1] * 37 + planes[n][2] * 19 + x * 7 + y);
      ASSERT_EQ(TIFFWriteScanline(t, row.data(), y, 0), 1);
    }
    ASSERT_TRUE(TIFFWriteDirectory(t));
  }
  TIFFClose(t);
}

std::string ome(const std::string& order, const std::string& more, const std::string& inside, int size_t = 3) {
  return "<?xml version=\"1.0\"?><OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\"><Image ID=\"Image:0\">"
         "<Pixels ID=\"Pixels:0\" DimensionOrder=\"" + order + "\" Type=\"uint8\" SizeX=\"10\" SizeY=\"6\" SizeC=\"2\" "
         "SizeZ=\"2\" SizeT=\"" + std::to_string(size_t) + "\" PhysicalSizeX=\"0.108\" " + more + "><Channel ID=\"Channel:0:0\" "
         "SamplesPerPixel=\"1\"/><Channel ID=\"Channel:0:1\"/>" + inside + "</Pixels></Image></OME>";
}

// Channel 2 of slice 2 along row 3: the image's pixels and the timeline; or the refusal.
std::pair<std::vector<uint8_t>, std::string> kymograph(const std::string& stack, int status = 0) {
  const velmora_test::Ran ran = velmora_test::run_scan(
      {"--channel", "2", "--z", "2", "--line", "0,3,9,3", "--timeline", stack + ".csv", stack, stack + "-k.tif"});
  EXPECT_EQ(ran.status, status) << ran.err;
  if (status != 0) return {{}, ran.err + (std::filesystem::exists(stack + "-k.tif") ? "and an image" : "")};
  std::ostringstream csv;
  csv << std::ifstream(stack + ".csv").rdbuf();
  return {velmora_test::read_tiff(stack + "-k.tif").image.bytes, csv.str()};
}

TEST(OmeTiff, EachOrderGivesTheHyperstacksKymograph) {
  const std::string folder = velmora_test::fresh_folder("ome-tiff");
  write_pages(folder + "/imagej.tif", in_order("XYCZT"),
              "ImageJ=1.54f\nimages=12\nchannels=2\nslices=2\nframes=3\nhyperstack=true\nfinterval=90\n");
  const auto want = kymograph(folder + "/imagej.tif");
  ASSERT_EQ(want.first.size(), 10u * 3);  // grey stays grey: one sample a pixel
  // The XYCZT pages backwards, each named by a TiffData; planes 90 s apart in milliseconds.
  std::string backwards, deltas;
  for (int n = 0; n < 12; ++n) {
    const auto p = in_order("XYCZT")[n];
    backwards += "<TiffData IFD=\"" + std::to_string(11 - n) + "\" FirstC=\"" + std::to_string(p[0]) + "\" FirstZ=\"" +
                 std::to_string(p[1]) + "\" FirstT=\"" + std::to_string(p[2]) + "\" PlaneCount=\"1\"/>";
    if (n < 3) deltas += "<Plane TheC=\"0\" TheZ=\"0\" TheT=\"" + std::to_string(n) + "\" DeltaT=\"" + std::to_string(n * 90000) + "\" DeltaTUnit=\"ms\"/>";
  }
  const std::string minutes = "TimeIncrement=\"1.5\" TimeIncrementUnit=\"min\"";
  const struct {
    std::string order, description;
  } cases[] = {
      {"XYCZT", ome("XYCZT", minutes, "<TiffData IFD=\"0\" PlaneCount=\"12\"/>")}, {"XYCTZ", ome("XYCTZ", minutes, "")},
      {"XYZCT", ome("XYZCT", "TimeIncrement=\"90\"", "<TiffData/>")},           {"XYZTC", ome("XYZTC", minutes, "")},
      {"XYTCZ", ome("XYTCZ", "", deltas)},                                       {"XYTZC", ome("XYTZC", minutes, "")},
      {"XYCZT-backwards", ome("XYCZT", minutes, backwards)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.order);
    auto planes = in_order(c.order.substr(0, 5));
    if (c.order.ends_with("backwards")) std::reverse(planes.begin(), planes.end());
    write_pages(folder + "/" + c.order + ".ome.tif", planes, c.description);
    EXPECT_EQ(kymograph(folder + "/" + c.order + ".ome.tif"), want);
  }
}

TEST(OmeTiff, RefusesWhatIsNotOneFilesPlanes) {
  const std::string folder = velmora_test::fresh_folder("ome-tiff-refused");
  const std::string whole = ome("XYCZT", "", "");
  const std::pair<std::string, std::string> cases[] = {
      {ome("XYCZT", "", "<TiffData PlaneCount=\"6\"><UUID FileName=\"b.ome.tif\">urn:uuid:1</UUID></TiffData>"),
       "spread over several files (b.ome.tif)"},
      {ome("XYCZT", "", "", 4), "puts planes in page 16, the file has 12 pages"},
      {ome("XYCZT", "", "", 2000000000), "more than 4194304 planes"},
      {whole.substr(0, whole.size() - 20), "OME-XML is damaged"},
      {ome("XYCZT", "TimeIncrement=\"2\" TimeIncrementUnit=\"fortnight\"", ""), "\"fortnight\" is not a unit of time"},
      {ome("XYCZZ", "", ""), "DimensionOrder \"XYCZZ\" is not one of"},
      {ome("XYCZT", "", "<TiffData IFD=\"0\" PlaneCount=\"6\"/><TiffData IFD=\"5\" FirstZ=\"1\" FirstT=\"1\" PlaneCount=\"6\"/>"),
       "page 6 holds two planes"},
      {ome("XYCZT", "TimeIncrement=\"1e308\" TimeIncrementUnit=\"h\"", ""), "TimeIncrement=\"1e308\" is too long"},
      {ome("XY&#10;CZT", "", ""), "DimensionOrder \"XY\\x0ACZT\" is not one of"},
  };
  for (const auto& [description, message] : cases) {
    SCOPED_TRACE(message);
    write_pages(folder + "/refused.ome.tif", in_order("XYCZT"), description);
    const std::string said = kymograph(folder + "/refused.ome.tif", 1).second;
    EXPECT_TRUE(said.find(message) != std::string::npos && !said.ends_with("and an image")) << said;
  }
}

}  // namespace
