// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: velmora-scan's own readers of untrusted text and bytes. The first byte
// picks one, the rest is its input:
//   0  exif     a whole image file: its EXIF orientation and date, and the date's three
//               fields as text (lines of the input)
//   1  names    lines: a file name or pattern, then names of files to make; the clock read
//               from the first, the natural order of all, the image listing of a folder
//               holding the files, by the first line as a glob or printf pattern
//   2  jpeg     four bytes choosing an area, then a JPEG picture decoded around it
//   3  options  lines: the arguments of the command line
//   4  roi      an ImageJ selection file (.roi), or a zip archive of them (RoiSet.zip)
//   ome          an OME-TIFF's ImageDescription (OME-XML); first bytes 0xE0 to 0xFF, which
//                no seed of the five above begins with
// Each checks the promises its reader makes; a broken one aborts.
#include <fnmatch.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <jpeglib.h>  // after <cstdio>, which it needs

#include "decode/ffmpeg_handles.h"
#include "scan/input/exif_reader.h"
#include "scan/input/image_list.h"
#include "scan/input/image_orientation.h"
#include "scan/input/jpeg_area.h"
#include "scan/input/ome_description.h"
#include "scan/options.h"
#include "scan/slit/imagej_roi.h"
#include "scan/time/picture_clock.h"
#include "scan/time/timeline.h"
#include "tests/support/scratch.h"

namespace {

namespace fs = std::filesystem;

void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "broken promise: %s\n", what);
  std::abort();
}

const fs::path& scratch() {
  static const velmora_test::ScratchFolder folder("velmora-parsers-fuzz");
  return folder.path();
}

std::vector<std::string> lines_of(std::string_view text, size_t most) {
  std::vector<std::string> lines;
  while (lines.size() < most) {
    const size_t end = text.find('\n');
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::string digits_of(std::string_view text) {
  std::string digits;
  for (char c : text)
    if (c >= '0' && c <= '9') digits += c;
  return digits;
}

// A time read from text is one the calendar has, written back the same: its ISO text reads
// back to it, and that text's date and time are `stated` (YYYYMMDDhhmmss).
void check_time(const scan::WallTime& time, std::string_view stated) {
  const std::string iso = scan::iso_time(time);
  const std::optional<scan::WallTime> again = scan::parse_iso_time(iso);
  require(again && again->civil_micros == time.civil_micros &&
              again->offset_minutes == time.offset_minutes,
          "a time read back from its ISO text is itself");
  // A 60th second (a leap second) is read as the next minute's first.
  std::string leap = digits_of(scan::iso_time(time.plus(-1)).substr(0, 19));
  leap = leap.ends_with("59") ? leap.substr(0, leap.size() - 2) + "60" : std::string();
  require(stated.find(digits_of(iso.substr(0, 19))) != std::string_view::npos ||
              (!leap.empty() && stated.find(leap) != std::string_view::npos),
          "a time read is the date and time the text states");
  require(
      !time.offset_minutes || (*time.offset_minutes > -24 * 60 && *time.offset_minutes < 24 * 60),
      "a zone's offset is less than a day");
}

// What the EXIF reader makes of a whole image file, asked in this one place: pointing it at
// another reader fuzzes that one.
struct ExifFacts {
  std::optional<decode::DisplayMatrix> orientation;
  std::optional<scan::WallTime> date;
};

ExifFacts read_exif(std::span<const uint8_t> file) {
  const fs::path path = scratch() / "picture";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return {scan::image_orientation(file), scan::exif_clock(path)};
}

std::string_view as_text(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

void fuzz_exif(std::span<const uint8_t> input) {
  const ExifFacts facts = read_exif(input);
  if (facts.orientation) {
    bool known = false;
    for (int n = 1; n <= 8; ++n) {
      const auto matrix = scan::exif_orientation_matrix(n);
      known = known || (!matrix->odd && matrix->orientation == facts.orientation->orientation &&
                        !facts.orientation->odd);
    }
    require(known, "an orientation is one of EXIF's eight");
  }
  if (facts.date) check_time(*facts.date, digits_of(as_text(input)));
  // The same bytes as a bare EXIF block, as a JPEG's APP1 holds it.
  const scan::ExifFacts block = scan::read_exif_block(input);
  require(!block.orientation || (*block.orientation >= 1 && *block.orientation <= 8),
          "an orientation is one of EXIF's eight");
  (void)scan::jpeg_ends_early(input.data(), input.size());

  const std::vector<std::string> fields = lines_of(as_text(input), 3);
  const auto field = [&](size_t i) { return i < fields.size() ? fields[i] : std::string(); };
  if (auto time = scan::exif_time(field(0), field(1), field(2)))
    check_time(*time, digits_of(field(0).substr(0, 19)));
}

// A name the listing's folder can hold.
bool plain_name(const std::string& name) {
  return !name.empty() && name.size() < 200 && name != "." && name != ".." &&
         name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

void fuzz_names(std::string_view input) {
  const std::vector<std::string> lines = lines_of(input, 12);
  if (auto time = scan::name_clock(lines[0])) {
    const size_t slash = lines[0].rfind('/');
    check_time(*time,
               digits_of(slash == std::string::npos ? lines[0] : lines[0].substr(slash + 1)));
  }

  for (const auto& a : lines) {
    require(!scan::natural_less(a, a), "no name comes before itself");
    for (const auto& b : lines) {
      const bool ab = scan::natural_less(a, b), ba = scan::natural_less(b, a);
      require(!(ab && ba), "of two names one comes first");
      require(ab || ba || a == b, "only equal names have no order");
      for (const auto& c : lines)
        require(!(ab && scan::natural_less(b, c)) || scan::natural_less(a, c),
                "the natural order is transitive");
    }
  }

  const fs::path folder = scratch() / "list";
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::create_directory(folder);
  for (size_t i = 1; i < lines.size(); ++i)
    if (plain_name(lines[i])) std::ofstream(folder / lines[i]).put('x');
  if (lines[0].find('/') != std::string::npos || lines[0].find('\0') != std::string::npos) return;
  const std::string prefix = folder.string() + "/";
  const std::string named = lines[0].empty() ? folder.string() : prefix + lines[0];
  const scan::SequenceKind kind = scan::sequence_kind(named);
  auto listed = scan::list_images(named, kind);
  if (!listed) {
    require(!listed.error().message.empty() && listed.error().message.find('\n') == std::string::npos,
            "a listing that fails says why in one line");
    return;
  }
  // "." and ".." name folders too: their files are listed under the name as given.
  const std::string home = kind == scan::SequenceKind::folder ? named + "/" : prefix;
  const std::vector<std::string>& names = *listed;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& path = names[i];
    require(path.starts_with(home) && path.find('/', home.size()) == std::string::npos,
            "a listing holds files of its folder only");
    require(fs::is_regular_file(path), "a listing holds files only");
    require(i == 0 || scan::natural_less(names[i - 1], path),
            "a listing is in natural order, once each");
    if (kind == scan::SequenceKind::folder)
      require(scan::image_extension(path), "a folder's listing holds images only");
    if (kind == scan::SequenceKind::glob)
      require(fnmatch(named.c_str(), path.c_str(), FNM_PATHNAME | FNM_PERIOD) == 0,
              "a glob's listing holds matching names only");
  }
}

// libjpeg-turbo's own whole-picture decode, the reference the area decode promises to match.
struct Trap : jpeg_error_mgr {
  std::jmp_buf jump;
};
[[noreturn]] void jump_out(j_common_ptr cinfo) {
  std::longjmp(static_cast<Trap*>(cinfo->err)->jump, 1);
}
void silent(j_common_ptr) {}

struct Whole {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // empty: libjpeg-turbo failed on it
};

// Pictures larger than this only cost time: the program's pictures have FFmpeg's size,
// which this target does not know.
constexpr long max_pixels = 1 << 18;

void decode_whole(std::span<const uint8_t> bytes, bool pixels, Whole& whole) {
  jpeg_decompress_struct cinfo;
  Trap trap;
  cinfo.err = jpeg_std_error(&trap);
  trap.error_exit = jump_out;
  trap.output_message = silent;
  jpeg_create_decompress(&cinfo);
  if (setjmp(trap.jump) == 0) {
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK) {
      whole.width = static_cast<int>(cinfo.image_width);
      whole.height = static_cast<int>(cinfo.image_height);
      if (pixels) {
        cinfo.out_color_space = JCS_RGB;
        jpeg_start_decompress(&cinfo);
        const size_t row_bytes = size_t{cinfo.output_width} * 3;
        whole.rgb.resize(row_bytes * cinfo.output_height);
        while (cinfo.output_scanline < cinfo.output_height) {
          JSAMPROW row = whole.rgb.data() + row_bytes * cinfo.output_scanline;
          jpeg_read_scanlines(&cinfo, &row, 1);
        }
      }
    }
  } else {
    whole.rgb.clear();
  }
  jpeg_destroy_decompress(&cinfo);
}

void fuzz_jpeg(std::span<const uint8_t> input) {
  if (input.size() < 4) return;
  const std::span<const uint8_t> jpeg = input.subspan(4);
  Whole whole;
  decode_whole(jpeg, false, whole);
  int width = whole.width, height = whole.height;
  if (width < 1 || height < 1 || long{width} * height > max_pixels) {
    // A size the picture may not have: the decoder must refuse it, not write past it.
    width = 1 + input[0] % 48;
    height = 1 + input[1] % 48;
  }
  scan::Rect area;
  area.x = input[0] % width;
  area.y = input[1] % height;
  area.width = 1 + input[2] % (width - area.x);
  area.height = 1 + input[3] % (height - area.y);
  scan::JpegArea decoder(width, height, area);
  decode::FramePtr frame = decode::new_frame();
  if (!decoder.decode(jpeg.data(), jpeg.size(), *frame)) {
    require(frame->data[0] == nullptr && frame->buf[0] == nullptr,
            "a refused picture leaves the frame blank");
    return;
  }
  require(frame->width == width && frame->height == height && frame->format == AV_PIX_FMT_RGB24,
          "a decoded picture has the clip's size, in RGB");
  // libjpeg-turbo's writes are not seen by ASan: mark the buffer's bytes outside the
  // picture, hand it back to the decoder's pool, which gives it out again, and decode anew.
  const uint8_t* const buffer = frame->buf[0]->data;
  const size_t buffer_size = frame->buf[0]->size;
  const size_t row_bytes = static_cast<size_t>(width) * 3, stride = frame->linesize[0];
  const auto outside = [&](size_t at) {
    return at / stride >= size_t(height) || at % stride >= row_bytes;
  };
  const std::vector<uint8_t> first(buffer, buffer + buffer_size);
  for (size_t at = 0; at < buffer_size; ++at)
    if (outside(at)) frame->buf[0]->data[at] = 0xa5;
  require(decoder.decode(jpeg.data(), jpeg.size(), *frame), "a picture decoded once decodes again");
  if (frame->buf[0]->data == buffer) {
    for (size_t at = 0; at < buffer_size; ++at)
      require(buffer[at] == (outside(at) ? 0xa5 : first[at]),
              "a decode writes inside the picture only, the same each time");
  }
  decode_whole(jpeg, true, whole);
  if (whole.rgb.empty()) return;  // damage past the area, which the area decode never reads
  // The area and the margin around it that SlitScaler reads of an RGB picture.
  const int margin = 8;
  const int left = std::max(0, area.x - margin),
            right = std::min(width, area.x + area.width + margin);
  const int top = std::max(0, area.y - margin),
            bottom = std::min(height, area.y + area.height + margin);
  for (int y = top; y < bottom; ++y)
    require(std::equal(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0] + left * 3,
                       frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0] + right * 3,
                       whole.rgb.begin() + (static_cast<ptrdiff_t>(y) * width + left) * 3),
            "the area's pixels are those of the whole picture");
}

void check_parsed(const scan::Parsed& parsed) {
  using Action = scan::Parsed::Action;
  if (parsed.action == Action::usage_error) {
    require(!parsed.error.empty() && parsed.error.find('\n') == std::string::npos,
            "a refused command line says why in one line");
    return;
  }
  if (parsed.action != Action::run) return;
  const scan::Request& o = parsed.request;
  require(o.every >= 1 && o.threads >= 0 && o.threads <= 64 && o.thickness >= 1 && o.bin >= 0,
          "accepted numbers lie in range");
  for (const auto& slit : o.slits) require(slit.width >= 1, "a slit holds a pixel");
  require(o.order.size() == o.slits.size() + o.lines.size(), "every slit and line is run once");
  if (o.order.size() < 2) return;
  const std::vector<scan::Request> each = scan::each_slit(o);
  require(each.size() == o.order.size(), "several slits make an image each");
  for (size_t i = 0; i < each.size(); ++i) {
    require(each[i].lines.size() + (each[i].slit.given ? 1 : 0) == 1, "each image has one slit");
    for (size_t j = 0; j < i; ++j)
      require(each[i].output != each[j].output, "each image has its own name");
  }
}

void fuzz_options(std::string_view input) {
  std::vector<std::string> args = lines_of(input, 64);
  args.insert(args.begin(), "velmora-scan");
  const scan::Parsed first = scan::parse_options(args);
  check_parsed(first);
  // getopt keeps state between calls: a second reading must not see the first.
  const scan::Parsed second = scan::parse_options(args);
  require(first.action == second.action && first.error == second.error &&
              first.request.input == second.request.input &&
              first.request.output == second.request.output,
          "the same command line reads the same twice");
}

}  // namespace

// A line taken has two points or more, each a finite place in the picture's quarter.
void check_line(const scan::RoiLine& roi) {
  require(roi.path.size() >= 2, "a line has two points or more");
  for (const scan::Point& p : roi.path)
    require(std::isfinite(p.x) && std::isfinite(p.y) && p.x >= 0 && p.y >= 0,
            "a line's points are finite and not negative");
  require(roi.width >= 0, "a line's width is not negative");
}

// The input as one selection file and as a set of them (a zip archive).
void fuzz_roi(std::span<const uint8_t> input) {
  const auto roi = scan::parse_imagej_roi(input);
  require(roi || !roi.error().message.empty(), "a refused selection says why");
  if (roi) check_line(*roi);
  const auto set = scan::parse_roi_set(input);
  require(set || !set.error().message.empty(), "a refused set says why");
  if (set)
    for (const scan::RoiLine& line : *set) check_line(line);
}

// The input as the OME-XML of a file named `stack.ome.tif`.
void fuzz_ome(std::string_view input) {
  const std::string text(input);
  const auto read = scan::parse_ome_description(text, "/data/stack.ome.tif");
  if (!read) {
    require(!read.error().message.empty() && read.error().message.find_first_of("\r\n") == std::string::npos,
            "a refused description says why in one line");
    return;
  }
  if (!*read) return;  // not OME-XML
  const scan::OmeDescription& d = **read;
  require(d.channels >= 1 && d.slices >= 1 && d.frames >= 1, "sizes are positive");
  std::string axes = d.order.size() == 5 && d.order.starts_with("XY") ? d.order.substr(2) : "";
  std::sort(axes.begin(), axes.end());
  require(axes == "CTZ", "the order is X, Y and the three others once each");
  require(static_cast<int64_t>(d.pages.size()) == d.channels * d.slices * d.frames,
          "every plane has a page");
  std::vector<int64_t> pages = d.pages;
  std::sort(pages.begin(), pages.end());
  require(pages.front() >= 0 && pages.back() <= int64_t{UINT32_MAX}, "pages lie in a TIFF");
  require(std::adjacent_find(pages.begin(), pages.end()) == pages.end(),
          "no two planes share a page");
  if (input.find("TiffData") == std::string_view::npos)
    for (size_t i = 0; i < pages.size(); ++i)
      require(pages[i] == static_cast<int64_t>(i), "without TiffData the planes are the pages");
  require(std::isfinite(d.pixel_width) && d.pixel_width >= 0 && std::isfinite(d.interval) &&
              d.interval >= 0,
          "calibration is finite, and positive where given");
  require(d.pixel_width == 0 || !d.unit.empty(), "a pixel size has its unit");
  // With every page there, each channel and slice has all its time points.
  const int64_t stride = d.channels * d.slices;
  for (int64_t first = 0; first < std::min<int64_t>(stride, 16); ++first)
    require(scan::ome_points(d.pages, first, stride, pages.back() + 1) == d.frames,
            "a plane with all its pages has every time point");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const uint8_t> input(data + 1, size - 1);
  if (data[0] >= 0xe0) {
    fuzz_ome(as_text(input));
    return 0;
  }
  switch (data[0] % 5) {
    case 0:
      fuzz_exif(input);
      break;
    case 1:
      fuzz_names(as_text(input));
      break;
    case 2:
      fuzz_jpeg(input);
      break;
    case 3:
      fuzz_options(as_text(input));
      break;
    case 4:
      fuzz_roi(input);
      break;
  }
  return 0;
}
