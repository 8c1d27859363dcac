// SPDX-License-Identifier: GPL-3.0-or-later
// The orientation a TIFF, PNG or WebP image carries turns a sequence of them as a JPEG's
// EXIF orientation does; a cut-off or broken file only has none.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "scan/image_orientation.h"
#include "scan_support.h"

namespace {

void sh(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

void write_all(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string big_endian32(uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

std::string little_endian32(uint32_t v) {
  return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// EXIF of one entry, Orientation = `orientation`: a big-endian TIFF header and IFD.
std::string exif(int orientation) {
  return std::string("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0", 19) +
         char(orientation) + std::string(6, '\0');
}

// Writes `orientation` into the image at `path` as its format keeps it.
void tag(const std::string& path, const std::string& ext, int orientation) {
  if (ext == "tif") {
    TIFF* tiff = TIFFOpen(path.c_str(), "r+");
    ASSERT_NE(tiff, nullptr) << path;
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, orientation);
    TIFFRewriteDirectory(tiff);
    TIFFClose(tiff);
    return;
  }
  std::string file = read_all(path);
  const std::string data = exif(orientation);
  if (ext == "png") {
    // An eXIf chunk right after IHDR (8 + 25 bytes in).
    const std::string body = "eXIf" + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size());
    file.insert(33, big_endian32(data.size()) + body + big_endian32(crc));
  } else {
    // An EXIF chunk at the end, and the RIFF size grown by it.
    file += "EXIF" + little_endian32(data.size()) + data;
    file.replace(4, 4, little_endian32(file.size() - 8));
  }
  write_all(path, file);
}

velmora_test::Png scanned(std::vector<std::string> args) {
  const std::string out = velmora_test::fresh_folder("orient-out") + "/out.png";
  args.push_back(out);
  const velmora_test::Ran ran = velmora_test::run_scan(args);
  EXPECT_EQ(ran.status, 0) << ran.err;
  return velmora_test::read_png(out);
}

// Three 40 x 16 pictures as images, stored through `filter` (FFmpeg's names).
std::string images(const std::string& name, const std::string& ext, const std::string& filter) {
  const std::string folder = velmora_test::fresh_folder(name);
  sh("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=40x16:rate=5 -frames:v 3 -vf " +
     filter + " -pix_fmt rgb24 " + (ext == "webp" ? "-c:v libwebp -lossless 1 " : "") + "'" +
     folder + "/%02d." + ext + "'");
  return folder;
}

struct Case {
  std::string ext;
  int orientation;
  std::string stored;  // what turns the shown picture into the stored one
};
const Case cases[] = {
    {"png", 6, "transpose=cclock"},
    {"tif", 8, "transpose=clock"},
    {"webp", 5, "transpose=cclock_flip"},
    {"png", 3, "hflip,vflip"},
};

TEST(ImageOrientation, EachFormatsTagShowsThePictureUpright) {
  for (const Case& c : cases) {
    const std::string what = c.ext + " " + std::to_string(c.orientation);
    const std::string upright = images("orient-upright", c.ext, "null");
    const std::string turned = images("orient-turned", c.ext, c.stored);
    for (const std::string& name : velmora_test::names_in(turned))
      tag(turned + "/" + name, c.ext, c.orientation);
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{}, {"--cut", "horizontal", "--slit", "5"}}) {
      std::vector<std::string> args = extra;
      args.push_back(upright);
      const velmora_test::Png want = scanned(args);
      args.back() = turned;
      const velmora_test::Png got = scanned(args);
      EXPECT_TRUE(got.width == want.width && got.height == want.height && got.bytes == want.bytes)
          << what << testing::PrintToString(extra);
    }
    // As stored: a quarter turn's column is the stored 40 high.
    const bool quarter = c.orientation >= 5;
    EXPECT_EQ(scanned({"--no-rotate", turned}).height, quarter ? 40 : 16) << what;
  }
}

// Every cut-off length of a tagged file, and every byte of its first 200 overwritten: the
// file's orientation or none, and (under ASan) nothing read outside it.
TEST(ImageOrientation, BrokenFilesHaveNoneOrTheirOwn) {
  for (const Case& c : cases) {
    const std::string folder = images("orient-broken", c.ext, c.stored);
    const std::string path = folder + "/01." + c.ext;
    tag(path, c.ext, c.orientation);
    const std::string file = read_all(path);
    const auto whole = scan::image_orientation(
        std::span(reinterpret_cast<const uint8_t*>(file.data()), file.size()));
    ASSERT_TRUE(whole.has_value()) << c.ext;
    auto none_or_whole = [&](const std::vector<uint8_t>& bytes) {
      const auto got = scan::image_orientation(bytes);
      return !got || got->orientation == whole->orientation;
    };
    for (size_t n = 0; n < file.size(); ++n)
      EXPECT_TRUE(none_or_whole({file.begin(), file.begin() + static_cast<long>(n)}))
          << c.ext << " cut at " << n;
    for (size_t at = 0; at < std::min<size_t>(200, file.size()); ++at) {
      std::vector<uint8_t> bytes(file.begin(), file.end());
      bytes[at] ^= 0xff;
      none_or_whole(bytes);
    }
  }
}

}  // namespace
