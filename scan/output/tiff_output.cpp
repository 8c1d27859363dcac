// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/output/tiff_output.h"

#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "strips/pixel_kind.h"

namespace scan {

// What libtiff's callbacks report back: the file and the first thing that went wrong.
struct TiffBands::Client {
  int fd = -1;
  int write_errno = 0;  // why a write failed, for the same words as the PNG's
  std::string message;  // libtiff's first error
};

namespace {

using Client = TiffBands::Client;

tmsize_t read_proc(thandle_t handle, void* buffer, tmsize_t size) {
  return ::read(static_cast<Client*>(handle)->fd, buffer, static_cast<size_t>(size));
}

tmsize_t write_proc(thandle_t handle, void* buffer, tmsize_t size) {
  auto* client = static_cast<Client*>(handle);
  const auto* bytes = static_cast<const char*>(buffer);
  tmsize_t done = 0;
  while (done < size) {
    ssize_t wrote = ::write(client->fd, bytes + done, static_cast<size_t>(size - done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (client->write_errno == 0) client->write_errno = wrote < 0 ? errno : ENOSPC;
      return -1;
    }
    done += wrote;
  }
  return done;
}

toff_t seek_proc(thandle_t handle, toff_t offset, int whence) {
  return static_cast<toff_t>(
      ::lseek(static_cast<Client*>(handle)->fd, static_cast<off_t>(offset), whence));
}

// The file belongs to the temporary output, which syncs, closes and renames it.
int close_proc(thandle_t) { return 0; }

toff_t size_proc(thandle_t handle) {
  struct stat st {};
  return fstat(static_cast<Client*>(handle)->fd, &st) == 0 ? static_cast<toff_t>(st.st_size) : 0;
}

int map_proc(thandle_t, void**, toff_t*) { return 0; }
void unmap_proc(thandle_t, void*, toff_t) {}

int on_error(TIFF*, void* user, const char*, const char* format, va_list args) {
  auto* client = static_cast<Client*>(user);
  if (client->message.empty()) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    client->message = text;
  }
  return 1;  // handled: nothing on stderr
}

int on_warning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

uint16_t tiff_code(TiffCompression compression) {
  switch (compression) {
    case TiffCompression::deflate:
      return COMPRESSION_ADOBE_DEFLATE;
    case TiffCompression::zstd:
      return COMPRESSION_ZSTD;
    case TiffCompression::lzw:
      return COMPRESSION_LZW;
    case TiffCompression::none:
      break;
  }
  return COMPRESSION_NONE;
}

int64_t padded(int64_t side) {
  return (side + tiff_tile_side - 1) / tiff_tile_side * tiff_tile_side;
}

// The fields of one tiled image, also of each reduced level.
bool set_fields(TIFF* tiff, const ImageSize& size, TiffCompression compression) {
  const int pb = size.pixel_bytes;
  const bool grey = strips::is_grey(pb);
  bool set = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(size.width)) &&
             TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(size.height)) &&
             TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, strips::component_bytes(pb) * 8) &&
             TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, strips::components_of(pb)) &&
             TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB) &&
             TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
             TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
             TIFFSetField(tiff, TIFFTAG_TILEWIDTH, static_cast<uint32_t>(tiff_tile_side)) &&
             TIFFSetField(tiff, TIFFTAG_TILELENGTH, static_cast<uint32_t>(tiff_tile_side)) &&
             TIFFSetField(tiff, TIFFTAG_COMPRESSION, tiff_code(compression)) &&
             TIFFSetField(tiff, TIFFTAG_SOFTWARE, "velmora-scan");
  // Unsigned samples are TIFF's default, left unsaid as the files before float said nothing.
  if (set && strips::is_float(pb)) set = TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
  if (set && compression != TiffCompression::none)
    set = TIFFSetField(tiff, TIFFTAG_PREDICTOR,
                       strips::is_float(pb) ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
  // Fast deflate, as for the PNG: the tiles are compressed in the decoding loop's thread.
  if (set && compression == TiffCompression::deflate) set = TIFFSetField(tiff, TIFFTAG_ZIPQUALITY, 1);
  return set;
}

}  // namespace

bool tiff_can_write(TiffCompression compression) {
  return TIFFIsCODECConfigured(tiff_code(compression)) != 0;
}

namespace {

// The most bytes the file for an image of `size` can take.
double worst_file_bytes(const ImageSize& size, TiffCompression compression) {
  // In double: sides up to TIFF's 2^32 - 1 would overflow 64 bits.
  const double tiles = static_cast<double>(padded(size.width) / tiff_tile_side) *
                       static_cast<double>(padded(size.height) / tiff_tile_side);
  const double raw = static_cast<double>(padded(size.width)) *
                     static_cast<double>(padded(size.height)) * size.pixel_bytes;
  // The most each compression can grow incompressible tiles: LZW's codes reach 12 bits a
  // byte, deflate adds its stored blocks' headers, zstd its own bound (about 1/256).
  double data = raw;
  switch (compression) {
    case TiffCompression::lzw:
      data = raw * 1.5;
      break;
    case TiffCompression::deflate:
      data = raw * 1.001;
      break;
    case TiffCompression::zstd:
      data = raw * (1 + 1.0 / 128);
      break;
    case TiffCompression::none:
      break;
  }
  // Each tile's own framing, its offset and byte count, and the header and directory.
  return data + tiles * (64 + 8) + 4096;
}

constexpr double classic_tiff_limit = 4294967295.0;

}  // namespace

bool needs_bigtiff(const ImageSize& size, TiffCompression compression) {
  return worst_file_bytes(size, compression) > classic_tiff_limit;
}

bool needs_bigtiff(const std::vector<ImageSize>& levels, TiffCompression compression) {
  double file = 0;
  for (const ImageSize& level : levels) file += worst_file_bytes(level, compression);
  return file > classic_tiff_limit;
}

TiffBands::TiffBands(std::unique_ptr<Client> client, const ImageSize& size, strips::Cut cut)
    : client_(std::move(client)), size_(size), cut_(cut) {}

TiffBands::~TiffBands() {
  // Unfinished, the file is being thrown away: libtiff's last flush must not reach it.
  client_->fd = -1;
  if (tiff_ != nullptr) TIFFCleanup(tiff_);
}

base::Result<std::unique_ptr<TiffBands>, base::Error> TiffBands::open(int fd,
                                                                      const ImageSize& size,
                                                                      strips::Cut cut,
                                                                      TiffCompression compression,
                                                                      bool bigtiff, int subifds) {
  auto client = std::make_unique<Client>();
  client->fd = fd;
  Client* handle = client.get();
  auto bands = std::make_unique<TiffBands>(std::move(client), size, cut);
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, on_error, handle);
  TIFFOpenOptionsSetWarningHandlerExtR(options, on_warning, handle);
  bands->tiff_ = TIFFClientOpenExt("OUTPUT", bigtiff ? "w8" : "w", handle, read_proc, write_proc,
                                   seek_proc, close_proc, size_proc, map_proc, unmap_proc,
                                   options);
  TIFFOpenOptionsFree(options);
  if (bands->tiff_ == nullptr) return base::failure(bands->failure("").error());
  bool set = set_fields(bands->tiff_, size, compression);
  if (set && subifds > 0) {
    // Placeholders: libtiff fills in each level's offset as it writes its directory.
    const std::vector<toff_t> offsets(static_cast<size_t>(subifds), 0);
    set = TIFFSetField(bands->tiff_, TIFFTAG_SUBIFD, static_cast<uint16_t>(subifds), offsets.data());
  }
  if (!set) return base::failure(bands->failure("cannot set up the TIFF").error());
  const int64_t pb = size.pixel_bytes;
  bands->across_ = padded(cut == strips::Cut::vertical ? size.height : size.width);
  // Zeroed: the padding of edge tiles is stored black.
  bands->band_.assign(static_cast<size_t>(bands->across_ * tiff_tile_side * pb), 0);
  bands->tile_.resize(static_cast<size_t>(tiff_tile_side * tiff_tile_side * pb));
  return bands;
}

base::Status TiffBands::failure(const std::string& what) const {
  if (client_->write_errno != 0)
    return base::failed("cannot write (" + std::string(std::strerror(client_->write_errno)) + ")");
  if (!client_->message.empty()) return base::failed(client_->message);
  return base::failed(what.empty() ? std::string("cannot write the TIFF") : what);
}

base::Status TiffBands::add(const strips::ConstBytePlane& strip) {
  const int64_t pb = size_.pixel_bytes;
  const bool vertical = cut_ == strips::Cut::vertical;
  const int64_t total = vertical ? size_.width : size_.height;
  const int64_t lines = std::min(vertical ? strip.width / pb : strip.height, total - lines_);
  // Lines of the strip go into the band until it is full, then the band's tiles are written.
  for (int64_t done = 0; done < lines;) {
    const int64_t at = lines_ % tiff_tile_side;
    const int64_t count = std::min(lines - done, tiff_tile_side - at);
    if (vertical) {
      const int64_t band_stride = tiff_tile_side * pb;
      for (int64_t y = 0; y < size_.height; ++y)
        std::memcpy(band_.data() + y * band_stride + at * pb,
                    strip.pixels + y * strip.stride + done * pb, static_cast<size_t>(count * pb));
    } else {
      const int64_t band_stride = across_ * pb;
      for (int64_t r = 0; r < count; ++r)
        std::memcpy(band_.data() + (at + r) * band_stride, strip.pixels + (done + r) * strip.stride,
                    static_cast<size_t>(size_.width * pb));
    }
    done += count;
    lines_ += count;
    if (lines_ % tiff_tile_side == 0)
      if (base::Status written = write_band(); !written) return written;
  }
  return {};
}

base::Status TiffBands::write_band() {
  const int64_t pb = size_.pixel_bytes;
  const int64_t band = (lines_ - 1) / tiff_tile_side;
  const int64_t tiles = across_ / tiff_tile_side;
  const int64_t tile_row_bytes = tiff_tile_side * pb;
  for (int64_t t = 0; t < tiles; ++t) {
    const bool vertical = cut_ == strips::Cut::vertical;
    if (vertical) {
      // 256 columns wide, the band's rows are the tile's rows: one block per tile.
      std::memcpy(tile_.data(), band_.data() + t * tiff_tile_side * tile_row_bytes, tile_.size());
    } else {
      for (int64_t r = 0; r < tiff_tile_side; ++r)
        std::memcpy(tile_.data() + r * tile_row_bytes,
                    band_.data() + r * across_ * pb + t * tile_row_bytes,
                    static_cast<size_t>(tile_row_bytes));
    }
    // The image holds 16-bit samples big-endian, as PNG wants; libtiff takes them native.
    if (strips::component_bytes(static_cast<int>(pb)) == 2)
      TIFFSwabArrayOfShort(reinterpret_cast<uint16_t*>(tile_.data()),
                           static_cast<tmsize_t>(tile_.size() / 2));
    const int64_t x = (vertical ? band : t) * tiff_tile_side;
    const int64_t y = (vertical ? t : band) * tiff_tile_side;
    const uint32_t number =
        TIFFComputeTile(tiff_, static_cast<uint32_t>(x), static_cast<uint32_t>(y), 0, 0);
    if (TIFFWriteEncodedTile(tiff_, number, tile_.data(), static_cast<tmsize_t>(tile_.size())) < 0)
      return failure("");
  }
  std::fill(band_.begin(), band_.end(), 0);
  return {};
}

base::Status TiffBands::finish() {
  if (lines_ % tiff_tile_side != 0)
    if (base::Status written = write_band(); !written) return written;
  if (!TIFFFlush(tiff_)) return failure("");
  client_->fd = -1;
  TIFFCleanup(tiff_);
  tiff_ = nullptr;
  return {};
}

base::Status TiffBands::end_image() {
  if (lines_ % tiff_tile_side != 0)
    if (base::Status written = write_band(); !written) return written;
  band_ = {};
  tile_ = {};
  if (!TIFFWriteDirectory(tiff_)) return failure("");
  return {};
}

base::Status TiffBands::append_level(int fd, TiffCompression compression) {
  if (::lseek(fd, 0, SEEK_SET) != 0) return base::failed("cannot read back a level (" + std::string(std::strerror(errno)) + ")");
  Client source;
  source.fd = fd;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, on_error, &source);
  TIFFOpenOptionsSetWarningHandlerExtR(options, on_warning, &source);
  TIFF* level = TIFFClientOpenExt("LEVEL", "rm", &source, read_proc, write_proc, seek_proc,
                                  close_proc, size_proc, map_proc, unmap_proc, options);
  TIFFOpenOptionsFree(options);
  if (level == nullptr) return base::failed("cannot read back a level: " + source.message);
  uint32_t width = 0, height = 0;
  TIFFGetField(level, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(level, TIFFTAG_IMAGELENGTH, &height);
  ImageSize size{width, height, size_.pixel_bytes};
  bool set = set_fields(tiff_, size, compression) &&
             TIFFSetField(tiff_, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
  std::vector<uint8_t> raw;
  const uint32_t tiles = TIFFNumberOfTiles(level);
  for (uint32_t t = 0; set && t < tiles; ++t) {
    raw.resize(static_cast<size_t>(TIFFGetStrileByteCount(level, t)));
    const tmsize_t bytes = static_cast<tmsize_t>(raw.size());
    set = TIFFReadRawTile(level, t, raw.data(), bytes) == bytes &&
          TIFFWriteRawTile(tiff_, t, raw.data(), bytes) == bytes;
  }
  const std::string read_error = source.message;
  TIFFCleanup(level);
  if (!set) {
    if (client_->write_errno == 0 && client_->message.empty() && !read_error.empty())
      return base::failed("cannot read back a level: " + read_error);
    return failure("");
  }
  if (!TIFFWriteDirectory(tiff_)) return failure("");
  return {};
}

base::Status TiffBands::close() {
  if (!TIFFFlush(tiff_)) return failure("");
  client_->fd = -1;
  TIFFCleanup(tiff_);
  tiff_ = nullptr;
  return {};
}

namespace {

// The shortest decimal that reads back as `value`.
std::string decimal(double value) {
  char text[32];
  const auto done = std::to_chars(text, text + sizeof text, value);
  return std::string(text, done.ptr);
}

}  // namespace

std::string imagej_description(int64_t channels, const ImageJScale& scale) {
  // The version names the dialect of the keys, which ImageJ has kept since.
  std::string d = "ImageJ=1.54f\n";
  if (channels > 1) {
    d += "images=" + std::to_string(channels) + "\nchannels=" + std::to_string(channels) +
         "\nhyperstack=true\nmode=grayscale\n";
  }
  if (!scale.x_unit.empty()) d += "unit=" + scale.x_unit + "\n";
  if (!scale.y_unit.empty() && scale.y_unit != scale.x_unit) d += "yunit=" + scale.y_unit + "\n";
  if (scale.finterval > 0) d += "finterval=" + decimal(scale.finterval) + "\n";
  d += "loop=false\n";
  return d;
}

namespace {

// Bytes appended in little-endian order, as the file's header says.
struct LittleEndian {
  std::vector<uint8_t> bytes;
  void u16(uint32_t v) {
    for (int i = 0; i < 2; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void u32(uint64_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
};

// A rational of 32-bit parts as near `value` as its denominator allows.
std::pair<uint32_t, uint32_t> rational(double value) {
  constexpr double most = 4294967295.0;
  const double den = std::floor(std::min(most, most / std::max(value, 1.0)));
  return {static_cast<uint32_t>(std::min(most, std::llround(value * den) * 1.0)),
          static_cast<uint32_t>(den)};
}

base::Status write_all(int fd, const uint8_t* bytes, size_t size) {
  while (size > 0) {
    const ssize_t wrote = ::write(fd, bytes, size);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return base::failed("cannot write (" + std::string(std::strerror(wrote < 0 ? errno : ENOSPC)) + ")");
    bytes += wrote;
    size -= static_cast<size_t>(wrote);
  }
  return {};
}

}  // namespace

base::Status write_imagej_tiff(int fd, const std::vector<const StripImage*>& channels,
                               const ImageJScale& scale) {
  if (channels.empty()) return base::failed("no image to write");
  const ImageSize size = channels.front()->size();
  const int pb = size.pixel_bytes;
  // 16-bit RGB has no ImageJ type of its own: its components become channels.
  const bool split = pb == 6;
  const int component = pb == 6 ? 2 : pb == 3 ? 1 : pb;
  const int samples = pb == 3 ? 3 : 1;
  const int64_t pages = static_cast<int64_t>(channels.size()) * (split ? 3 : 1);
  if (size.width * size.height > INT32_MAX)
    return base::failed("the image would be " + std::to_string(size.width) + " x " +
                        std::to_string(size.height) + " pixels, more than ImageJ holds in one");
  const int64_t page_bytes = size.width * size.height * samples * component;
  const std::string description = imagej_description(pages, scale);
  // ImageJ reads a stack's pages as one block after the first page's offset, as it writes
  // them: every page's pixels first, back to back, then the directories.
  const int64_t data_end = 8 + page_bytes * pages;
  if (data_end + 4096 + pages * 256 + static_cast<int64_t>(description.size()) > 4294967295LL)
    return base::failed("the image would pass classic TIFF's 4 GiB, which ImageJ reads");
  LittleEndian head;
  head.bytes = {'I', 'I'};
  head.u16(42);
  head.u32(static_cast<uint64_t>(data_end));
  if (base::Status ok = write_all(fd, head.bytes.data(), head.bytes.size()); !ok) return ok;
  std::vector<uint8_t> page(static_cast<size_t>(page_bytes));
  for (int64_t p = 0; p < pages; ++p) {
    const StripImage& image = *channels[static_cast<size_t>(split ? p / 3 : p)];
    const int64_t c = split ? p % 3 : 0;
    const int64_t row_bytes = size.width * samples * component;
    for (int64_t y = 0; y < size.height; ++y) {
      const uint8_t* from = image.row(y);
      uint8_t* to = page.data() + y * row_bytes;
      if (component == 2) {  // big-endian in the image, little-endian in the file
        for (int64_t x = 0; x < size.width; ++x) {
          to[2 * x] = from[x * pb + c * 2 + 1];
          to[2 * x + 1] = from[x * pb + c * 2];
        }
      } else {
        std::memcpy(to, from, static_cast<size_t>(row_bytes));
      }
    }
    if (base::Status ok = write_all(fd, page.data(), page.size()); !ok) return ok;
  }
  // The directories, each followed by what its entries point at.
  LittleEndian tail;
  const bool calibrated = !scale.x_unit.empty() && scale.x_size > 0 && scale.y_size > 0;
  for (int64_t p = 0; p < pages; ++p) {
    const uint64_t at = static_cast<uint64_t>(data_end) + tail.bytes.size();
    struct Entry {
      uint16_t tag, type;
      uint32_t count;
      uint64_t value;  // or the offset of what is past 4 bytes
    };
    std::vector<Entry> entries;
    std::vector<uint8_t> extra;
    const int count = 10 + (p == 0) + (calibrated ? 3 : 0) + (pb == 4);
    const uint64_t extra_at = at + 2 + 12 * static_cast<uint64_t>(count) + 4;
    const auto outside = [&](const std::vector<uint8_t>& bytes) {
      const uint64_t offset = extra_at + extra.size();
      extra.insert(extra.end(), bytes.begin(), bytes.end());
      if (extra.size() % 2) extra.push_back(0);  // offsets on word boundaries
      return offset;
    };
    constexpr uint16_t SHORT = 3, LONG = 4, ASCII = 2, RATIONAL = 5;
    entries.push_back({256, LONG, 1, static_cast<uint64_t>(size.width)});
    entries.push_back({257, LONG, 1, static_cast<uint64_t>(size.height)});
    if (samples == 3) {
      LittleEndian bits;
      for (int i = 0; i < 3; ++i) bits.u16(8);
      entries.push_back({258, SHORT, 3, outside(bits.bytes)});
    } else {
      entries.push_back({258, SHORT, 1, static_cast<uint64_t>(component * 8)});
    }
    entries.push_back({259, SHORT, 1, 1});
    entries.push_back({262, SHORT, 1, samples == 3 ? 2u : 1u});
    if (p == 0) {
      std::vector<uint8_t> text(description.begin(), description.end());
      text.push_back(0);
      entries.push_back({270, ASCII, static_cast<uint32_t>(text.size()), outside(text)});
    }
    entries.push_back({273, LONG, 1, static_cast<uint64_t>(8 + p * page_bytes)});
    entries.push_back({277, SHORT, 1, static_cast<uint64_t>(samples)});
    entries.push_back({278, LONG, 1, static_cast<uint64_t>(size.height)});
    entries.push_back({279, LONG, 1, static_cast<uint64_t>(page_bytes)});
    if (calibrated) {
      for (int axis = 0; axis < 2; ++axis) {  // pixels per unit, across then down
        const auto [num, den] = rational(1 / (axis == 0 ? scale.x_size : scale.y_size));
        LittleEndian r;
        r.u32(num);
        r.u32(den);
        entries.push_back({static_cast<uint16_t>(axis == 0 ? 282 : 283), RATIONAL, 1, outside(r.bytes)});
      }
      entries.push_back({296, SHORT, 1, 1});  // no unit: it is in the description
    }
    {
      const std::string software = "velmora-scan";
      std::vector<uint8_t> text(software.begin(), software.end());
      text.push_back(0);
      entries.push_back({305, ASCII, static_cast<uint32_t>(text.size()), outside(text)});
    }
    if (pb == 4) entries.push_back({339, SHORT, 1, 3});  // IEEE float
    tail.u16(static_cast<uint32_t>(entries.size()));
    for (const Entry& e : entries) {
      tail.u16(e.tag);
      tail.u16(e.type);
      tail.u32(e.count);
      if (e.type == SHORT && e.count == 1) {
        tail.u16(static_cast<uint32_t>(e.value));
        tail.u16(0);
      } else {
        tail.u32(e.value);
      }
    }
    const bool last = p + 1 == pages;
    tail.u32(last ? 0 : extra_at + extra.size());
    tail.bytes.insert(tail.bytes.end(), extra.begin(), extra.end());
  }
  return write_all(fd, tail.bytes.data(), tail.bytes.size());
}

}  // namespace scan
