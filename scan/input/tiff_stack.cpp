// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/tiff_stack.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

#include "base/text.h"
#include "scan/input/image_sequence.h"
#include "scan/input/ome_description.h"

namespace scan {
namespace {

// libtiff's words go to the message that names the file, never to the terminal.
int keep_error(TIFF*, void* user, const char*, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  *static_cast<std::string*>(user) = text;
  return 1;
}
int drop_warning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// `error` must outlive the handle: libtiff reports into it until it is closed. A stack is
// opened unmapped: its pages are read in small parts, and reading those parts is cheaper
// than faulting in a map of the file page by page.
TIFF* open_tiff(const std::string& path, std::string* error, const char* mode = "r") {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, keep_error, error);
  TIFFOpenOptionsSetWarningHandlerExtR(options, drop_warning, nullptr);
  TIFF* tiff = TIFFOpenExt(path.c_str(), mode, options);
  TIFFOpenOptionsFree(options);
  return tiff;
}

}  // namespace

// A stack's directories, one a page, each with its chunks' offsets nearby, are read in a
// few small pieces each: libtiff's reads are served from one read of a block around them,
// and its seeks cost nothing. Reads longer than the block go straight to the file.
struct TiffStack::ReadFile {
  int fd = -1;
  uint64_t size = 0, position = 0;
  uint64_t held_from = 0;  // the file's offset of block[0]
  size_t held = 0;         // bytes of block that hold the file's
  std::array<uint8_t, 4096> block;

  static tmsize_t read(thandle_t handle, void* to, tmsize_t size);
  static tmsize_t write(thandle_t, void*, tmsize_t) { return -1; }
  static toff_t seek(thandle_t handle, toff_t offset, int whence);
  static int close(thandle_t) { return 0; }
  static toff_t file_size(thandle_t handle) { return static_cast<ReadFile*>(handle)->size; }
  static int map(thandle_t, void**, toff_t*) { return 0; }
  static void unmap(thandle_t, void*, toff_t) {}
};

void TiffStack::FileCloser::operator()(ReadFile* f) const {
  if (f->fd >= 0) ::close(f->fd);
  delete f;
}

tmsize_t TiffStack::ReadFile::read(thandle_t handle, void* to, tmsize_t size) {
  ReadFile& f = *static_cast<ReadFile*>(handle);
  if (size <= 0) return 0;
  auto* out = static_cast<uint8_t*>(to);
  const auto wanted = static_cast<uint64_t>(size);
  if (wanted > f.block.size()) {
    // As read(2) in a loop, as libtiff's own reads do: short only at the end of the file.
    uint64_t done = 0;
    while (done < wanted) {
      const ssize_t got = pread(f.fd, out + done, wanted - done, static_cast<off_t>(f.position + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return -1;
      if (got == 0) break;
      done += static_cast<uint64_t>(got);
    }
    f.position += done;
    return static_cast<tmsize_t>(done);
  }
  if (f.position < f.held_from || f.position + wanted > f.held_from + f.held) {
    ssize_t got;
    do got = pread(f.fd, f.block.data(), f.block.size(), static_cast<off_t>(f.position));
    while (got < 0 && errno == EINTR);
    if (got < 0) return -1;
    f.held_from = f.position;
    f.held = static_cast<size_t>(got);
  }
  const uint64_t there = f.held_from + f.held > f.position ? f.held_from + f.held - f.position : 0;
  const uint64_t given = std::min(wanted, there);
  std::memcpy(out, f.block.data() + (f.position - f.held_from), given);
  f.position += given;
  return static_cast<tmsize_t>(given);
}

toff_t TiffStack::ReadFile::seek(thandle_t handle, toff_t offset, int whence) {
  ReadFile& f = *static_cast<ReadFile*>(handle);
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return static_cast<toff_t>(-1);
  // As lseek(2): a place before the start is refused, one past the end is allowed.
  const auto base = static_cast<int64_t>(whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f.position : f.size);
  const auto step = static_cast<int64_t>(offset);
  if ((step < 0 && base + step < 0) || (step > 0 && base > INT64_MAX - step))
    return static_cast<toff_t>(-1);
  f.position = static_cast<uint64_t>(base + step);
  return f.position;
}

namespace {

// What a page holds, as the first page's is compared with the others'.
struct PageKind {
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, samples = 1, format = SAMPLEFORMAT_UINT, photometric = 0, planar = 1;
  bool tiled = false;

  bool operator==(const PageKind& o) const {
    return width == o.width && height == o.height && bits == o.bits && samples == o.samples &&
           format == o.format && planar == o.planar;
  }
  std::string text() const {
    std::string kind = std::to_string(width) + " x " + std::to_string(height) + ", " +
                       std::to_string(bits) + "-bit";
    if (format == SAMPLEFORMAT_IEEEFP) kind += " float";
    if (format == SAMPLEFORMAT_INT) kind += " signed";
    kind += samples == 1 ? (photometric == PHOTOMETRIC_PALETTE ? " palette" : " grey")
            : samples == 3 ? " RGB"
                           : ", " + std::to_string(samples) + " samples a pixel";
    if (planar == PLANARCONFIG_SEPARATE && samples > 1) kind += " in separate planes";
    return kind;
  }
};

TiffChunkLayout layout_of(TIFF* tiff) {
  TiffChunkLayout l;
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &l.height);
  l.tiled = TIFFIsTiled(tiff) != 0;
  if (l.tiled) {
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &l.rows);
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &l.columns);
  } else {
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &l.rows);
    l.rows = std::clamp<uint32_t>(l.rows, 1, std::max<uint32_t>(l.height, 1));
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &l.columns);
  }
  return l;
}

PageKind kind_of(TIFF* tiff) {
  PageKind k;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &k.width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &k.height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &k.bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &k.samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &k.format);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &k.planar);
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &k.photometric);
  k.tiled = TIFFIsTiled(tiff) != 0;
  return k;
}

// The picture format a page's samples are handed out in, as stored (palette pages as
// their index values); NONE for what is not read.
AVPixelFormat pixel_format_of(const PageKind& k) {
  if (k.planar == PLANARCONFIG_SEPARATE && k.samples > 1) return AV_PIX_FMT_NONE;
  // Grey float samples are kept as the values they are (never converted).
  if (k.format == SAMPLEFORMAT_IEEEFP && k.samples == 1 && k.bits == 32) return AV_PIX_FMT_GRAYF32;
  if (k.format != SAMPLEFORMAT_UINT) return AV_PIX_FMT_NONE;
  if (k.samples == 1 && k.bits == 8) return AV_PIX_FMT_GRAY8;
  if (k.samples == 1 && k.bits == 16) return AV_PIX_FMT_GRAY16;
  if (k.samples == 3 && k.bits == 8 && k.photometric == PHOTOMETRIC_RGB) return AV_PIX_FMT_RGB24;
  if (k.samples == 3 && k.bits == 16 && k.photometric == PHOTOMETRIC_RGB) return AV_PIX_FMT_RGB48;
  return AV_PIX_FMT_NONE;
}

// Where a page's samples start when they lie uncompressed, in this machine's byte and bit
// order, chunk after chunk with no gap in the layout `first` names (as libtiff and ImageJ
// write them): any row is then found by arithmetic. -1 when they do not.
int64_t packed_start(TIFF* tiff, const TiffChunkLayout& first) {
  uint16_t compression = COMPRESSION_NONE, fill = FILLORDER_MSB2LSB;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_FILLORDER, &fill);
  if (compression != COMPRESSION_NONE || fill != FILLORDER_MSB2LSB ||
      (first.sample_bytes > 1 && TIFFIsByteSwapped(tiff)) || !(layout_of(tiff) == first))
    return -1;
  const uint32_t chunks = first.tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
  const uint64_t bytes = first.chunk_bytes(), start = TIFFGetStrileOffset(tiff, 0);
  for (uint32_t i = 0; i < chunks; ++i) {
    // A last strip may hold fewer rows; a tile is always whole.
    const uint64_t rows = first.tiled ? first.rows
                                      : std::min<uint64_t>(first.rows, first.height - uint64_t{i} * first.rows);
    if (TIFFGetStrileOffset(tiff, i) != start + i * bytes ||
        TIFFGetStrileByteCount(tiff, i) < rows * bytes / first.rows)
      return -1;
  }
  return chunks > 0 && start > 0 ? static_cast<int64_t>(start) : -1;
}

// All of `size` bytes at `offset`, or false.
bool read_at(int fd, uint64_t offset, uint8_t* to, size_t size) {
  while (size > 0) {
    const ssize_t got = pread(fd, to, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    to += got, size -= static_cast<size_t>(got), offset += static_cast<uint64_t>(got);
  }
  return true;
}

bool whole(const std::string& text, int64_t& value) {
  const std::optional<double> read = base::plain_decimal(text);
  if (!read || *read != std::floor(*read) || *read < 1 || *read > 1e12) return false;
  value = static_cast<int64_t>(*read);
  return true;
}

}  // namespace

std::optional<ImageJDescription> parse_imagej_description(const std::string& text) {
  if (!text.starts_with("ImageJ=")) return std::nullopt;
  ImageJDescription d;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    const auto number = [&](int64_t& field) {
      if (!whole(value, field)) field = -1;
    };
    if (key == "images") number(d.images);
    else if (key == "channels") number(d.channels);
    else if (key == "slices") number(d.slices);
    else if (key == "frames") number(d.frames);
    else if (key == "unit") d.unit = value;
    else if (key == "spacing") d.spacing = base::plain_decimal(value).value_or(0);
    else if (key == "finterval") d.finterval = base::plain_decimal(value).value_or(0);
  }
  return d;
}

void TiffStack::Closer::operator()(tiff* t) const { TIFFClose(t); }

bool TiffStack::is_stack(const std::string& path) {
  std::string error;
  TIFF* tiff = open_tiff(path, &error);
  if (tiff == nullptr) return false;
  char* description = nullptr;
  bool stack = TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &description) && description &&
               parse_imagej_description(description).value_or(ImageJDescription{}).images > 1;
  stack = stack || TIFFReadDirectory(tiff) != 0;
  TIFFClose(tiff);
  return stack;
}

int TiffStack::channels_in(const std::string& path) {
  std::string error;
  TIFF* tiff = open_tiff(path, &error);
  if (tiff == nullptr) return 1;
  char* description = nullptr;
  int64_t channels = 1;
  if (TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &description) && description)
    channels = parse_imagej_description(description).value_or(ImageJDescription{}).channels;
  TIFFClose(tiff);
  // Numbers past any stack's are left to open() to refuse.
  return static_cast<int>(std::clamp<int64_t>(channels, 1, 1'000'000));
}

bool TiffStack::named_stack(const std::string& path) {
  return (base::ends_with_ignoring_case(path, ".tif") ||
          base::ends_with_ignoring_case(path, ".tiff")) &&
         is_stack(path);
}

base::Result<std::unique_ptr<TiffStack>, base::Error> TiffStack::open(const std::string& path,
                                                                      StackPick pick) {
  std::unique_ptr<TiffStack> s(new TiffStack);
  s->path_ = path;
  std::string& error = s->libtiff_error_;
  if (const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
    s->file_.reset(new ReadFile);
    s->file_->fd = fd;
    struct stat about {};
    if (fstat(fd, &about) == 0) s->file_->size = static_cast<uint64_t>(about.st_size);
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, keep_error, &error);
    TIFFOpenOptionsSetWarningHandlerExtR(options, drop_warning, nullptr);
    s->tiff_.reset(TIFFClientOpenExt(path.c_str(), "rm", s->file_.get(), ReadFile::read,
                                     ReadFile::write, ReadFile::seek, ReadFile::close,
                                     ReadFile::file_size, ReadFile::map, ReadFile::unmap, options));
    TIFFOpenOptionsFree(options);
  } else {
    s->tiff_.reset(open_tiff(path, &error, "rm"));  // which says why it cannot be opened
  }
  TIFF* tiff = s->tiff_.get();
  if (tiff == nullptr) return base::failed(path + ": " + (error.empty() ? "not a TIFF" : error));
  const PageKind first = kind_of(tiff);
  const AVPixelFormat format = pixel_format_of(first);
  if (format == AV_PIX_FMT_NONE)
    return base::failed(path + ": pages of " + first.text() + " are not read");
  char* text = nullptr;
  std::optional<ImageJDescription> imagej;
  if (TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &text) && text)
    imagej = parse_imagej_description(text);
  std::optional<OmeDescription> ome;
  if (!imagej && text) {
    auto read = parse_ome_description(text, path);
    if (!read) return base::failure(read.error().within(path + ": "));
    ome = std::move(*read);
  }
  s->layout_ = layout_of(tiff);
  s->layout_.sample_bytes = first.bits / 8;
  s->layout_.pixel_bytes = first.samples * first.bits / 8;
  // Every page's directory, checked against the first's.
  do {
    const PageKind page = kind_of(tiff);
    if (!(page == first))
      return base::failed(path + ": page " + std::to_string(s->offsets_.size() + 1) + " is " +
                          page.text() + ", page 1 " + first.text() +
                          "; a stack's pages are all alike");
    s->offsets_.push_back(TIFFCurrentDirOffset(tiff));
    s->packed_.push_back(packed_start(tiff, s->layout_));
    if (TIFFLastDirectory(tiff)) break;
    error.clear();
    if (!TIFFReadDirectory(tiff)) {
      s->broken_ = error.empty() ? "its next page cannot be read" : error;
      break;
    }
  } while (true);
  const auto pages = static_cast<int64_t>(s->offsets_.size());
  ImageJDescription d;
  d.images = pages;
  if (imagej) {
    d = *imagej;
    if (d.images < 0 || d.channels < 0 || d.slices < 0 || d.frames < 0 ||
        d.channels * d.slices * d.frames != std::max<int64_t>(d.images, 1))
      return base::failed(path + ": its ImageJ description's channels, slices and frames "
                          "do not multiply to its images");
    if (d.images > pages && s->broken_.empty())
      return base::failed(path + ": its ImageJ description says " + std::to_string(d.images) +
                          " images, the file has " + std::to_string(pages) + " pages");
    if (d.images < pages)
      return base::failed(path + ": its ImageJ description says " + std::to_string(d.images) +
                          " images, the file has " + std::to_string(pages) + " pages");
  }
  if (ome) {
    d = ImageJDescription{ome->channels * ome->slices * ome->frames, ome->channels, ome->slices,
                          ome->frames, ome->unit, 0, ome->interval, ome->pixel_width};
    // Pages past the planes may be another image's; planes past the pages are missing.
    const int64_t last = *std::max_element(ome->pages.begin(), ome->pages.end());
    if (last >= pages && s->broken_.empty())
      return base::failed(path + ": its OME-XML puts planes in page " + std::to_string(last + 1) +
                          ", the file has " + std::to_string(pages) + " pages");
    s->pages_ = std::move(ome->pages);
  }
  // Time runs over frames; a stack of one frame runs over its slices instead.
  const bool time_over_slices = d.frames == 1;
  if (pick.channel > d.channels)
    return base::failed("--channel " + std::to_string(pick.channel) + ": " + path + " has " +
                        std::to_string(d.channels) + " channel(s)");
  if (d.channels > 1 && pick.channel == 0)
    return base::failed(path + ": " + std::to_string(d.channels) +
                        " channels; pick one with --channel N (one output of several "
                        "channels is not made)");
  if (pick.z > 0 && time_over_slices)
    return base::failed("--z " + std::to_string(pick.z) + ": " + path +
                        " has one frame; its slices are the time");
  if (pick.z > d.slices)
    return base::failed("--z " + std::to_string(pick.z) + ": " + path + " has " +
                        std::to_string(d.slices) + " slice(s)");
  if (d.slices > 1 && !time_over_slices && pick.z == 0)
    return base::failed(path + ": " + std::to_string(d.slices) +
                        " slices a frame; pick one with --z K");
  const int64_t channel = std::max(pick.channel, 1) - 1, z = std::max(pick.z, 1) - 1;
  s->stride_ = time_over_slices ? d.channels : d.channels * d.slices;
  s->first_ = channel + (time_over_slices ? 0 : z * d.channels);
  // Whole time points whose page is there.
  const int64_t points = !s->pages_.empty() ? ome_points(s->pages_, s->first_, s->stride_, pages)
                         : pages > s->first_ ? (pages - s->first_ - 1) / s->stride_ + 1 : 0;
  if (points == 0) return base::failed(path + ": no page of the chosen plane is there");

  s->width_ = static_cast<int>(first.width);
  s->height_ = static_cast<int>(first.height);
  s->tiled_ = first.tiled;
  s->deep_ = deep_pixel_format(format);
  s->pixel_bytes_ = first.samples * first.bits / 8;
  if (pick.interval > 0) d.finterval = pick.interval;
  s->interval_ = d.finterval > 0 ? d.finterval : 1 / sequence_fps;
  s->calibration_.interval = d.finterval;
  s->calibration_.unit = d.unit;
  // ImageJ keeps the pixel size in the resolution tags as pixels per unit.
  float resolution = 0;
  uint16_t resolution_unit = RESUNIT_NONE;
  if (TIFFSetSubDirectory(tiff, s->offsets_.front()) &&
      TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &resolution_unit) &&
      TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &resolution) && resolution > 0 &&
      std::isfinite(resolution)) {
    if (s->calibration_.unit.empty() && resolution_unit == RESUNIT_CENTIMETER)
      s->calibration_.unit = "cm";
    if (s->calibration_.unit.empty() && resolution_unit == RESUNIT_INCH)
      s->calibration_.unit = "inch";
    if (!s->calibration_.unit.empty()) s->calibration_.pixel_size = 1.0 / resolution;
  }
  s->frames_.count = points;
  s->frames_.fps = 1 / s->interval_;
  s->frames_.clock.rate = av_d2q(s->frames_.fps, 1 << 30);
  s->frames_.clock.time_base = av_inv_q(s->frames_.clock.rate);
  s->picture_ = decode::new_frame();
  s->picture_->format = format;
  s->picture_->width = s->width_;
  s->picture_->height = s->height_;
  s->picture_->color_range = AVCOL_RANGE_JPEG;
  if (av_frame_get_buffer(s->picture_.get(), 0) < 0)
    return base::failed(path + ": out of memory");
  for (int y = 0; y < s->height_; ++y)
    std::memset(s->picture_->data[0] + y * s->picture_->linesize[0], 0,
                static_cast<size_t>(s->width_) * s->pixel_bytes_);
  const tmsize_t chunk = s->tiled_ ? TIFFTileSize(tiff) : TIFFStripSize(tiff);
  if (chunk <= 0) return base::failed(path + ": its strips have no size");
  s->chunk_.resize(static_cast<size_t>(chunk));
  return s;
}

TiffStack::~TiffStack() = default;

void TiffStack::read_only(Rect area) { area_ = area_ ? area_->united(area) : area; }

bool TiffStack::choose(FrameChoice choice) {
  choice_ = std::move(choice);
  next_wanted_ = choice_.only.empty() ? choice_.from : choice_.read_after(choice_.from - 1);
  return true;
}

size_t TiffStack::page_of(int64_t t) const {
  const int64_t plane = first_ + t * stride_;
  return static_cast<size_t>(pages_.empty() ? plane : pages_[static_cast<size_t>(plane)]);
}

bool TiffStack::read_page(size_t page) {
  TIFF* tiff = tiff_.get();
  if (packed_[page] >= 0 && read_packed(static_cast<uint64_t>(packed_[page]))) return true;
  if (!TIFFSetSubDirectory(tiff, offsets_[page])) return false;
  const Rect all{0, 0, width_, height_};
  const Rect area = area_.value_or(all);
  const int top = std::clamp(area.y, 0, height_), bottom = std::clamp(area.y + area.height, 0, height_);
  const int left = std::clamp(area.x, 0, width_), right = std::clamp(area.x + area.width, 0, width_);
  uint8_t* const out = picture_->data[0];
  const ptrdiff_t line = picture_->linesize[0];
  const auto blacken = [&](int from) {
    for (int y = from; y < bottom; ++y)
      std::memset(out + y * line, 0, static_cast<size_t>(width_) * pixel_bytes_);
  };
  // Uncompressed samples in this machine's byte and bit order are the bytes as they lie in
  // the file: read raw, with no decoding copy. Anything short or odd is read again the
  // decoding way, which says what is wrong with it.
  uint16_t compression = COMPRESSION_NONE, fill = FILLORDER_MSB2LSB;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_FILLORDER, &fill);
  const bool raw = compression == COMPRESSION_NONE && fill == FILLORDER_MSB2LSB &&
                   (layout_.sample_bytes == 1 || !TIFFIsByteSwapped(tiff));
  if (!tiled_) {
    uint32_t rows = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows);
    rows = std::clamp<uint32_t>(rows, 1, static_cast<uint32_t>(height_));
    const size_t row_bytes = static_cast<size_t>(width_) * pixel_bytes_;
    if (raw && read_raw_strips(top, bottom, static_cast<int>(rows), row_bytes)) return true;
    for (int y = top - top % static_cast<int>(rows); y < bottom; y += static_cast<int>(rows)) {
      const int here = std::min(static_cast<int>(rows), height_ - y);
      const tmsize_t got = TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, y, 0),
                                                chunk_.data(), static_cast<tmsize_t>(chunk_.size()));
      if (got < static_cast<tmsize_t>(row_bytes * here)) {
        blacken(std::max(y, top));
        return false;
      }
      for (int r = std::max(y, top); r < std::min(y + here, bottom); ++r)
        std::memcpy(out + r * line, chunk_.data() + (r - y) * row_bytes, row_bytes);
    }
    return true;
  }
  uint32_t tile_w = 0, tile_h = 0;
  TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tile_w);
  TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tile_h);
  const int tw = static_cast<int>(tile_w), th = static_cast<int>(tile_h);
  for (int y = top - top % th; y < bottom; y += th) {
    for (int x = left - left % tw; x < right; x += tw) {
      const uint32_t tile = TIFFComputeTile(tiff, x, y, 0, 0);
      const auto size = static_cast<tmsize_t>(chunk_.size());
      tmsize_t got = raw ? TIFFReadRawTile(tiff, tile, chunk_.data(), size) : -1;
      if (got < size) got = TIFFReadEncodedTile(tiff, tile, chunk_.data(), size);
      if (got < size) {
        blacken(y);
        return false;
      }
      const int columns = std::min(tw, width_ - x);
      for (int r = y; r < std::min(y + th, height_); ++r)
        std::memcpy(out + r * line + static_cast<ptrdiff_t>(x) * pixel_bytes_,
                    chunk_.data() + static_cast<size_t>(r - y) * tw * pixel_bytes_,
                    static_cast<size_t>(columns) * pixel_bytes_);
    }
  }
  return true;
}

bool TiffStack::read_packed(uint64_t start) {
  const Rect area = area_.value_or(Rect{0, 0, width_, height_});
  const int top = std::clamp(area.y, 0, height_), bottom = std::clamp(area.y + area.height, 0, height_);
  const int left = std::clamp(area.x, 0, width_), right = std::clamp(area.x + area.width, 0, width_);
  if (top >= bottom) return true;
  const int fd = file_ ? file_->fd : TIFFFileno(tiff_.get());
  uint8_t* const out = picture_->data[0];
  const ptrdiff_t line = picture_->linesize[0];
  const size_t row_bytes = static_cast<size_t>(width_) * pixel_bytes_;
  if (!layout_.tiled) {
    // Rows follow each other across the strips: the area's rows are one run of bytes.
    const uint64_t from = start + static_cast<uint64_t>(top) * row_bytes;
    const size_t size = static_cast<size_t>(bottom - top) * row_bytes;
    if (static_cast<size_t>(line) == row_bytes) return read_at(fd, from, out + top * line, size);
    if (run_.size() < size) run_.resize(size);
    if (!read_at(fd, from, run_.data(), size)) return false;
    for (int r = top; r < bottom; ++r)
      std::memcpy(out + r * line, run_.data() + static_cast<size_t>(r - top) * row_bytes, row_bytes);
    return true;
  }
  if (left >= right) return true;
  const int tw = static_cast<int>(layout_.columns), th = static_cast<int>(layout_.rows);
  const int across = (width_ + tw - 1) / tw;
  const size_t tile_bytes = layout_.chunk_bytes(), tile_row = static_cast<size_t>(tw) * pixel_bytes_;
  // The tiles of one tile row the area crosses lie one after the other: one read a row.
  const int first = left / tw, last = (right - 1) / tw;
  const size_t size = static_cast<size_t>(last - first + 1) * tile_bytes;
  if (run_.size() < size) run_.resize(size);
  for (int y = top - top % th; y < bottom; y += th) {
    const uint64_t index = static_cast<uint64_t>(y / th) * across + first;
    if (!read_at(fd, start + index * tile_bytes, run_.data(), size)) return false;
    for (int t = first; t <= last; ++t) {
      const int x = t * tw, columns = std::min(tw, width_ - x);
      const uint8_t* tile = run_.data() + static_cast<size_t>(t - first) * tile_bytes;
      for (int r = y; r < std::min(y + th, height_); ++r)
        std::memcpy(out + r * line + static_cast<ptrdiff_t>(x) * pixel_bytes_,
                    tile + static_cast<size_t>(r - y) * tile_row, static_cast<size_t>(columns) * pixel_bytes_);
    }
  }
  return true;
}

bool TiffStack::read_raw_strips(int top, int bottom, int rows, size_t row_bytes) {
  TIFF* tiff = tiff_.get();
  uint8_t* const out = picture_->data[0];
  const ptrdiff_t line = picture_->linesize[0];
  for (int y = top - top % rows; y < bottom; y += rows) {
    const int here = std::min(rows, height_ - y);
    const int from = std::max(y, top), to = std::min(y + here, bottom);
    const auto want = static_cast<tmsize_t>(row_bytes * here);
    const uint32_t strip = TIFFComputeStrip(tiff, y, 0);
    // Rows packed as in the file go straight into the picture, when all of the strip's are
    // wanted; else through the strip buffer.
    if (static_cast<size_t>(line) == row_bytes && from == y && to == y + here) {
      if (TIFFReadRawStrip(tiff, strip, out + y * line, want) != want) return false;
      continue;
    }
    if (want > static_cast<tmsize_t>(chunk_.size()) ||
        TIFFReadRawStrip(tiff, strip, chunk_.data(), want) != want)
      return false;
    for (int r = from; r < to; ++r)
      std::memcpy(out + r * line, chunk_.data() + (r - y) * row_bytes, row_bytes);
  }
  return true;
}

const AVFrame* TiffStack::next(int64_t& frame) {
  const int64_t end = std::min(choice_.to, frames_.count);
  if (next_wanted_ >= end) return nullptr;
  frame = next_wanted_;
  next_wanted_ = choice_.read_after(frame);
  const size_t page = page_of(frame);
  stamp_ = FrameStamp{};
  stamp_.frame = frame;
  stamp_.seconds = static_cast<double>(frame) * interval_;
  if (!read_page(page)) {
    stamp_.damaged = true;
    if (damaged_++ == 0) first_damaged_page_ = std::to_string(page + 1);
  }
  return picture_.get();
}

std::vector<std::string> TiffStack::warnings() const {
  std::vector<std::string> said;
  if (!broken_.empty())
    said.push_back("the stack breaks off after page " + std::to_string(offsets_.size()) + " (" +
                   broken_ + "); the image holds the pages read");
  return said;
}

}  // namespace scan
