// SPDX-License-Identifier: GPL-3.0-or-later
// The orientation a TIFF, PNG or WebP image carries turns a sequence of them as a JPEG's
// EXIF orientation does; a cut-off or broken file only has none.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "scan/input/image_orientation.h"
#include "tests/scan/run/scan_support.h"
#include "tools/clipwriter/avi_bytes.h"

namespace {

using clipwriter::Bytes;

void append32(Bytes& to, uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) to.push_back(static_cast<uint8_t>(v >> (big ? 24 - 8 * i : 8 * i)));
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
  // EXIF of one entry: a big-endian TIFF header and an IFD holding Orientation.
  const uint8_t exif[26] = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 1, 0x12, 0, 3, 0, 0, 0, 1, 0,
                            static_cast<uint8_t>(orientation)};
  Bytes file = clipwriter::read_bytes(path), chunk;
  if (ext == "png") {
    // An eXIf chunk right after IHDR (8 + 25 bytes in).
    append32(chunk, sizeof exif, true);
    chunk.insert(chunk.end(), {'e', 'X', 'I', 'f'});
    chunk.insert(chunk.end(), exif, exif + sizeof exif);
    append32(chunk, crc32(0, chunk.data() + 4, chunk.size() - 4), true);
    file.insert(file.begin() + 33, chunk.begin(), chunk.end());
  } else {
    // An EXIF chunk at the end, and the RIFF size grown by it.
    file.insert(file.end(), {'E', 'X', 'I', 'F'});
    append32(file, sizeof exif, false);
    file.insert(file.end(), exif, exif + sizeof exif);
    clipwriter::put_le32(file, 4, static_cast<uint32_t>(file.size() - 8));
  }
  ASSERT_TRUE(clipwriter::write_bytes(path, file));
}

velmora_test::Png scanned(std::vector<std::string> args) {
  const std::string out = velmora_test::fresh_folder("orient-out") + "/out.png";
  args.push_back(out);
  const velmora_test::Ran ran = velmora_test::run_scan(args);
  EXPECT_EQ(ran.status, 0) << ran.err;
  return velmora_test::read_png(out);
}

// Three 40 x 16 pictures as images, stored through `filter` (FFmpeg's), each tagged with
// `orientation` unless it is 0.
std::string images(const std::string& ext, const std::string& filter, int orientation) {
  // A folder of its own for each kind, so that two sets can be compared.
  const std::string folder =
      velmora_test::fresh_folder("orient-" + ext + "-" + std::to_string(orientation) + "-" + filter);
  const std::string command =
      "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=40x16:rate=5 -frames:v 3 -vf " +
      filter + " -pix_fmt rgb24 " + (ext == "webp" ? "-c:v libwebp -lossless 1 " : "") + "'" +
      folder + "/%02d." + ext + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  for (const std::string& name : velmora_test::names_in(folder))
    if (orientation != 0) tag(folder + "/" + name, ext, orientation);
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
    const std::string upright = images(c.ext, "null", 0);
    const std::string turned = images(c.ext, c.stored, c.orientation);
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
    EXPECT_EQ(scanned({"--no-rotate", turned}).height, c.orientation >= 5 ? 40 : 16) << what;
  }
}

// Every cut-off length of a tagged file, and each of its first 200 bytes changed: the
// file's orientation or none, and (under ASan) nothing read outside it.
TEST(ImageOrientation, BrokenFilesHaveNoneOrTheirOwn) {
  for (const Case& c : cases) {
    const Bytes file = clipwriter::read_bytes(images(c.ext, c.stored, c.orientation) + "/01." + c.ext);
    const auto whole = scan::image_orientation(file);
    ASSERT_TRUE(whole.has_value()) << c.ext;
    auto none_or_whole = [&](const Bytes& bytes) {
      const auto got = scan::image_orientation(bytes);
      return !got || got->orientation == whole->orientation;
    };
    for (size_t n = 0; n < file.size(); ++n)
      EXPECT_TRUE(none_or_whole(Bytes(file.begin(), file.begin() + static_cast<long>(n))))
          << c.ext << " cut at " << n;
    for (size_t at = 0; at < std::min<size_t>(200, file.size()); ++at) {
      Bytes bytes = file;
      bytes[at] ^= 0xff;
      EXPECT_TRUE(none_or_whole(bytes)) << c.ext << " changed at " << at;
    }
  }
}

}  // namespace

namespace {

// Each image of a sequence is turned by its own tag: images stored turned and tagged so
// give the upright sequence's image, whichever image is tagged; a shown size unlike the
// first's is the size failure.
TEST(ImageOrientation, EachImageByItsOwnTag) {
  struct Case {
    std::vector<std::pair<std::string, int>> stored;  // per image: filter and tag (0: none)
    int status;
  } cases[] = {
      {{{"null", 0}, {"null", 0}, {"hflip,vflip", 3}}, 0},
      {{{"hflip,vflip", 3}, {"null", 0}, {"null", 0}}, 0},
      {{{"null", 1}, {"transpose=cclock", 6}, {"transpose=clock", 8}}, 0},
      {{{"null", 1}, {"null", 6}, {"null", 6}}, 1},
  };
  // Each stored form once, its images copied where a case wants them.
  std::map<std::string, std::string> stored;
  for (const char* filter : {"null", "hflip,vflip", "transpose=cclock", "transpose=clock"})
    stored[filter] = images("png", filter, 0);
  const velmora_test::Png want = scanned({stored["null"]});
  for (const Case& c : cases) {
    const std::string folder = velmora_test::fresh_folder("orient-mixed");
    for (size_t i = 0; i < c.stored.size(); ++i) {
      const std::string name = "/0" + std::to_string(i + 1) + ".png";
      std::filesystem::copy_file(stored[c.stored[i].first] + name, folder + name);
      if (c.stored[i].second != 0) tag(folder + name, "png", c.stored[i].second);
    }
    const std::string out = velmora_test::fresh_folder("orient-mixed-out") + "/out.png";
    const velmora_test::Ran ran = velmora_test::run_scan({folder, out});
    ASSERT_EQ(ran.status, c.status) << testing::PrintToString(c.stored) << ran.err;
    if (c.status == 0)
      EXPECT_TRUE(velmora_test::read_png(out).bytes == want.bytes) << testing::PrintToString(c.stored);
    else
      EXPECT_NE(ran.err.find("16 x 40"), std::string::npos) << ran.err;
  }
}

}  // namespace
