// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/displace/delays.h"

#include <png.h>

extern "C" {
#include <libavutil/common.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <charconv>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

namespace displace {

base::Status parse_ramp(const std::string& value, DelayRequest& request) {
  request.text = "--delay " + value;
  if (!value.starts_with("ramp:"))
    return base::usage(request.text + ": must be ramp:N[:DIRECTION]");
  std::string_view rest = std::string_view(value).substr(5);
  std::string_view number = rest.substr(0, rest.find(':'));
  const auto [end, ec] =
      std::from_chars(number.data(), number.data() + number.size(), request.frames);
  if (number.empty() || ec != std::errc() || end != number.data() + number.size())
    return base::usage(request.text + ": N is not a whole number of frames");
  if (request.frames < 0) return base::usage(request.text + ": N must be 0 or more");
  if (request.frames > 100000) return base::usage(request.text + ": N must be 100000 or less");
  request.ramp = true;
  if (number.size() == rest.size()) return {};
  const std::string_view way = rest.substr(number.size() + 1);
  if (way == "right") request.direction = Direction::right;
  else if (way == "left") request.direction = Direction::left;
  else if (way == "down") request.direction = Direction::down;
  else if (way == "up") request.direction = Direction::up;
  else return base::usage(request.text + ": DIRECTION must be right, left, down or up");
  return {};
}

base::Status movable(int format, int width) {
  const auto pix = static_cast<AVPixelFormat>(format);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pix);
  const std::string name = desc != nullptr ? desc->name : "(unknown)";
  if (desc == nullptr || (desc->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL |
                                         AV_PIX_FMT_FLAG_HWACCEL)) != 0)
    return base::failed("the pixel format " + name + " has no whole bytes per pixel");
  int steps[4] = {};
  av_image_fill_max_pixsteps(steps, nullptr, desc);
  for (int p = 0; p < av_pix_fmt_count_planes(pix); ++p) {
    const int shift = p == 1 || p == 2 ? desc->log2_chroma_w : 0;
    if (av_image_get_linesize(pix, width, p) != AV_CEIL_RSHIFT(width, shift) * steps[p])
      return base::failed("the pixel format " + name + " packs two pixels into one unit");
  }
  return {};
}

namespace {

// numer / den as whole frames and a fraction: rounded half up to whole frames for nearest.
void put(DelayField& field, size_t i, uint64_t numer, uint64_t den, Blend blend) {
  if (blend == Blend::nearest) {
    field.whole[i] = static_cast<int32_t>((2 * numer + den) / (2 * den));
    field.fraction[i] = 0;
  } else {
    field.whole[i] = static_cast<int32_t>(numer / den);
    field.fraction[i] = static_cast<uint32_t>(numer % den);
  }
}

}  // namespace

DelayField ramp_field(const DelayRequest& request, int width, int height) {
  DelayField field;
  field.width = width;
  field.height = height;
  const bool across = request.direction == Direction::right || request.direction == Direction::left;
  field.kind = across ? DelayField::Kind::columns : DelayField::Kind::rows;
  const int count = across ? width : height;
  const bool reversed = request.direction == Direction::left || request.direction == Direction::up;
  // One column (row) is now: there is no ramp to spread.
  const uint64_t den = count > 1 ? uint64_t(count - 1) : 1;
  field.den = static_cast<uint32_t>(den);
  field.whole.resize(count);
  field.fraction.resize(count);
  for (int i = 0; i < count; ++i) {
    const uint64_t at = count > 1 ? uint64_t(reversed ? count - 1 - i : i) : 0;
    put(field, size_t(i), uint64_t(request.frames) * at, den, request.blend);
  }
  return field;
}

DelayField map_field(const std::vector<uint16_t>& samples, int map_width, int map_height,
                     uint32_t vmax, int64_t frames, Blend blend, int width, int height) {
  DelayField field;
  field.kind = DelayField::Kind::pixels;
  field.width = width;
  field.height = height;
  field.den = vmax;
  field.whole.resize(size_t(width) * size_t(height));
  field.fraction.resize(field.whole.size());
  for (int y = 0; y < height; ++y) {
    // The map's pixel whose area holds this pixel's centre.
    const int64_t my = (2 * int64_t(y) + 1) * map_height / (2 * int64_t(height));
    for (int x = 0; x < width; ++x) {
      const int64_t mx = (2 * int64_t(x) + 1) * map_width / (2 * int64_t(width));
      const uint64_t v = samples[size_t(my) * size_t(map_width) + size_t(mx)];
      put(field, field.index(x, y), uint64_t(frames) * v, vmax, blend);
    }
  }
  return field;
}

namespace {

// libpng's errors come back here, through its longjmp, as text.
struct PngRead {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::string error;
  ~PngRead() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

void png_failed(png_structp png, png_const_charp message) {
  static_cast<PngRead*>(png_get_error_ptr(png))->error = message;
  png_longjmp(png, 1);
}
void png_warned(png_structp, png_const_charp) {}

}  // namespace

base::Result<GreyMap, base::Error> read_grey_png(const std::string& path) {
  const std::string what = "--delay-map " + path;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) return base::failed(what + ": cannot be read");
  PngRead read;
  read.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, png_failed, png_warned);
  if (read.png == nullptr) return base::failed(what + ": cannot be read");
  read.info = png_create_info_struct(read.png);
  GreyMap map;
  std::vector<uint8_t> bytes;
  bool grey = true;
  if (setjmp(png_jmpbuf(read.png)) != 0)
    return base::failed(what + ": not a PNG that can be read (" + read.error + ")");
  png_init_io(read.png, file.get());
  png_read_info(read.png, read.info);
  const int type = png_get_color_type(read.png, read.info);
  const int depth = png_get_bit_depth(read.png, read.info);
  grey = type == PNG_COLOR_TYPE_GRAY && (depth == 8 || depth == 16);
  if (grey) {
    map.width = int(png_get_image_width(read.png, read.info));
    map.height = int(png_get_image_height(read.png, read.info));
    map.vmax = depth == 16 ? 65535 : 255;
    if (depth == 16) png_set_swap(read.png);  // samples in the machine's order
    png_set_interlace_handling(read.png);
    png_read_update_info(read.png, read.info);
    const size_t row = png_get_rowbytes(read.png, read.info);
    bytes.resize(row * size_t(map.height));
    std::vector<png_bytep> rows(size_t(map.height));
    for (int y = 0; y < map.height; ++y) rows[size_t(y)] = bytes.data() + row * size_t(y);
    png_read_image(read.png, rows.data());
  }
  if (!grey) return base::failed(what + ": not a grey image of 8 or 16 bits");
  map.samples.resize(size_t(map.width) * size_t(map.height));
  for (size_t i = 0; i < map.samples.size(); ++i) {
    uint16_t v = bytes[i];
    if (map.vmax == 65535) std::memcpy(&v, bytes.data() + 2 * i, 2);
    map.samples[i] = v;
  }
  return map;
}

}  // namespace displace
