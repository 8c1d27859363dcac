// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/sinks.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "scan/output/growing_image.h"
#include "scan/output/png_output.h"
#include "scan/output/tiff_output.h"
#include "scan/output/tiff_pyramid.h"
#include "scan/output/tile_codec.h"
#include "scan/viewer_page.h"

namespace scan {
namespace {

using strips::Cut;

// A write that failed: said as OUTPUT's, unless the run was asked to stop meanwhile.
Error write_failed(const SinkSetting& s, const Error& error) {
  if (s.stop && s.stop()) return s.interrupted();
  return error.within(s.output + ": ");
}
Error write_failed(const SinkSetting& s, const std::string& error) {
  return write_failed(s, Error{ExitStatus::failed, error});
}

// An image's file synced; a failure is said as OUTPUT's.
base::Result<void, Error> seal_image(const SinkSetting& s, TempOutput& output) {
  if (base::Status ok = output.seal(); !ok) return base::failure(write_failed(s, ok.error()));
  return {};
}

// One strip of an image of `size`.
ImageSize strip_of(const SinkSetting& s, const ImageSize& size) {
  ImageSize strip = size;
  (s.cut == Cut::vertical ? strip.width : strip.height) = s.strip_lines;
  return strip;
}

base::Result<void, Error> allocate_strip(const SinkSetting& s, const ImageSize& strip,
                                         StripImage& into) {
  if (auto had = into.allocate(strip, "a strip"); !had)
    return base::failure(had.error().within(s.output + ": "));
  return {};
}

// A sink whose image goes into OUTPUT under a temporary name.
class ImageFile : public Sink {
 public:
  explicit ImageFile(const SinkSetting& s) : s_(s), output_(s.output) {}
  TempOutput* file() override { return &output_; }
  bool replaces() const override { return s_.force; }
  base::Result<void, Error> seal() override { return seal_image(s_, output_); }

 protected:
  SinkSetting s_;
  TempOutput output_;
};

// An image held whole in memory, each strip laid into it as it comes, written at the end.
class HeldImage : public ImageFile {
 public:
  using ImageFile::ImageFile;

  base::Result<void, Error> begin(const ImageSize& size, StripImage& strip) override {
    if (auto within = check_sides(size); !within) return within;
    if (auto fits = check_image_size(size, available_memory()); !fits)
      return base::failure(fits.error().within(s_.output + ": "));
    if (base::Status ok = output_.create(); !ok) return base::failure(ok.error());
    if (auto had = image_.allocate(size); !had)
      return base::failed(s_.output + ": " + had.error().message +
                          "; use --every or a shorter range");
    return allocate_strip(s_, strip_of(s_, size), strip);
  }
  base::Result<void, Error> take(const Laid& laid) override {
    const StripImage& strip = laid.strip;
    strips::place_strip(strip.view(), image_.plane(),
                        strips::ExactStrip{s_.cut, strip.size().pixel_bytes, 0, s_.strip_lines},
                        laid.k);
    ++strips_;
    return {};
  }
  StripImage* held() override { return &image_; }

 protected:
  // A format's own limits, checked before anything is held.
  virtual base::Result<void, Error> check_sides(const ImageSize&) { return {}; }
  StripImage image_;
};

class HeldPng : public HeldImage {
 public:
  using HeldImage::HeldImage;

  base::Result<void, Error> finish() override {
    if (base::Status ok = write_png(output_.stream(), image_, s_.threads, png_chunk_bytes, s_.stop);
        !ok)
      return base::failure(write_failed(s_, ok.error()));
    return {};
  }
};

class HeldImageJ : public HeldImage {
 public:
  using HeldImage::HeldImage;

  base::Result<void, Error> finish() override {
    if (base::Status ok = write_imagej_tiff(fileno(output_.stream()), {&image_}, s_.imagej_scale);
        !ok)
      return base::failure(write_failed(s_, ok.error()));
    return {};
  }

 protected:
  base::Result<void, Error> check_sides(const ImageSize& size) override {
    if (size.width * size.height <= INT32_MAX) return {};
    return base::failed(s_.output + ": the image would be " + std::to_string(size.width) +
                        " x " + std::to_string(size.height) +
                        " pixels, more than ImageJ holds in one image (2^31 - 1 "
                        "pixels); use --every or a shorter range");
  }
};

// A JPEG or WebP, held whole and encoded at the end: for small images, within the
// format's sides, which are checked before anything is decoded.
class HeldCoded : public HeldImage {
 public:
  HeldCoded(const SinkSetting& s, bool webp) : HeldImage(s), webp_(webp) {}

  base::Result<void, Error> finish() override {
    const ImageSize& size = image_.size();
    const TilePixels pixels{image_.row(0), size.width, size.height, image_.stride(),
                            size.pixel_bytes};
    auto bytes = webp_ ? encode_webp(pixels, s_.quality) : encode_jpeg(pixels, s_.quality);
    if (!bytes) return base::failure(bytes.error().within(s_.output + ": "));
    if (std::fwrite(bytes->data(), 1, bytes->size(), output_.stream()) != bytes->size())
      return base::failure(
          write_failed(s_, "cannot write (" + std::string(std::strerror(errno)) + ")"));
    return {};
  }

 protected:
  base::Result<void, Error> check_sides(const ImageSize& size) override {
    const int64_t limit = webp_ ? webp_max_side : jpeg_max_side;
    if (size.width > limit || size.height > limit)
      return base::failed(s_.output + ": the image would be " + std::to_string(size.width) + " x " +
          std::to_string(size.height) + " pixels, more than " + (webp_ ? "WebP" : "JPEG") +
          " allows (" + std::to_string(limit) + " a side); use a .dzi OUTPUT, or --pyramid "
          "with a .tif OUTPUT, for an image of any length");
    return {};
  }

 private:
  bool webp_;
};

class StreamedPng : public ImageFile {
 public:
  using ImageFile::ImageFile;

  base::Result<void, Error> begin(const ImageSize& size, StripImage& strip) override {
    if (auto fits = check_image_size(size, -1); !fits)
      return base::failure(fits.error().within(s_.output + ": "));
    if (base::Status ok = output_.create(); !ok) return base::failure(ok.error());
    const ImageSize rows = strip_of(s_, size);
    if (auto had = strip.allocate(rows); !had)
      return base::failed(s_.output + ": " + had.error().message +
                          "; use --every or a shorter range");
    writer_ = std::make_unique<PngWriter>(output_.stream(), size, s_.threads, png_chunk_bytes,
                                          s_.stop);
    if (base::Status ok = writer_->begin(); !ok)
      return base::failure(ok.error().within(s_.output + ": "));
    return {};
  }
  base::Result<void, Error> take(const Laid& laid) override {
    const StripImage& strip = laid.strip;
    if (base::Status ok = writer_->add_rows(strip.row(0), s_.strip_lines, strip.stride()); !ok)
      return base::failure(write_failed(s_, ok.error()));
    ++strips_;
    return {};
  }
  base::Result<void, Error> finish() override {
    if (base::Status ok = writer_->finish(); !ok) return base::failure(write_failed(s_, ok.error()));
    return {};
  }

 private:
  std::unique_ptr<PngWriter> writer_;
};

class TiffSink : public ImageFile {
 public:
  TiffSink(const SinkSetting& s, bool pyramid) : ImageFile(s), pyramid_(pyramid) {}

  base::Result<void, Error> begin(const ImageSize& size, StripImage& strip) override {
    if (size.width > tiff_max_side || size.height > tiff_max_side)
      return base::failed(s_.output + ": the image would be " +
                          std::to_string(size.width) + " x " +
                          std::to_string(size.height) +
                          " pixels, more than TIFF allows (" +
                          std::to_string(tiff_max_side) +
                          " a side); use --every or a shorter range");
    if (base::Status ok = output_.create(); !ok) return base::failure(ok.error());
    if (pyramid_) {
      const std::string folder = std::filesystem::path(output_.temp_path()).parent_path().string();
      auto opened = TiffPyramid::open(fileno(output_.stream()), folder.empty() ? "." : folder,
                                      size, s_.cut, s_.compress);
      if (!opened) return base::failure(write_failed(s_, opened.error()));
      pyramid_tiff_ = std::move(*opened);
    } else {
      auto opened = TiffBands::open(fileno(output_.stream()), size, s_.cut, s_.compress,
                                    needs_bigtiff(size, s_.compress));
      if (!opened) return base::failure(write_failed(s_, opened.error()));
      tiff_ = std::move(*opened);
    }
    return allocate_strip(s_, strip_of(s_, size), strip);
  }
  base::Result<void, Error> take(const Laid& laid) override {
    const StripImage& strip = laid.strip;
    base::Status added = tiff_ ? tiff_->add(strip.view()) : pyramid_tiff_->add(strip.view());
    if (!added) return base::failure(write_failed(s_, added.error()));
    ++strips_;
    return {};
  }
  base::Result<void, Error> finish() override {
    base::Status written = tiff_ ? tiff_->finish() : pyramid_tiff_->finish();
    if (!written) return base::failure(write_failed(s_, written.error()));
    return {};
  }
  void discard() override {
    tiff_.reset();  // before its file is closed
    pyramid_tiff_.reset();
    output_.discard();
  }

 private:
  bool pyramid_;
  // Either goes before output_, whose file it writes to.
  std::unique_ptr<TiffBands> tiff_;
  std::unique_ptr<TiffPyramid> pyramid_tiff_;
};

// NAME.dzi under a temporary name, its tiles in a temporary folder in NAME_files' place;
// the folder lands first, so that a viewer that finds the descriptor finds its tiles.
class DeepZoomSink : public ImageFile {
 public:
  explicit DeepZoomSink(const SinkSetting& s) : ImageFile(s), files_(dzi_files_folder(s.output)) {}

  base::Result<void, Error> begin(const ImageSize& size, StripImage& strip) override {
    size_ = size;
    if (base::Status ok = output_.create(); !ok) return base::failure(ok.error());
    if (base::Status ok = files_.create(); !ok) return base::failure(ok.error());
    auto opened = DeepZoom::open(files_.temp_path(), size, s_.cut, s_.tile_format, s_.quality,
                                 s_.threads);
    if (!opened) return base::failure(write_failed(s_, opened.error()));
    zoom_ = std::move(*opened);
    return allocate_strip(s_, strip_of(s_, size), strip);
  }
  base::Result<void, Error> take(const Laid& laid) override {
    if (base::Status added = zoom_->add(laid.strip.view()); !added)
      return base::failure(write_failed(s_, added.error()));
    ++strips_;
    return {};
  }
  base::Result<void, Error> finish() override {
    if (base::Status done = zoom_->finish(); !done)
      return base::failure(write_failed(s_, done.error()));
    const std::string text = dzi_descriptor(size_, s_.tile_format);
    if (std::fwrite(text.data(), 1, text.size(), output_.stream()) != text.size())
      return base::failure(write_failed(s_, "cannot write (" + std::string(std::strerror(errno)) + ")"));
    return {};
  }
  base::Result<void, Error> seal() override {
    if (base::Status ok = files_.seal(); !ok) return base::failure(write_failed(s_, ok.error()));
    return seal_image(s_, output_);
  }
  base::Status commit() override {
    if (base::Status ok = files_.commit(replaces()); !ok) return ok;
    base::Status ok = output_.commit(replaces());
    if (!ok) take_back_files();
    return ok;
  }
  void take_back() override {
    std::remove(output_.target().c_str());
    take_back_files();
  }
  void discard() override {
    zoom_.reset();
    files_.discard();
    output_.discard();
  }

 private:
  void take_back_files() {
    std::error_code ignored;
    std::filesystem::remove_all(files_.target(), ignored);
  }

  TempFolder files_;
  ImageSize size_;
  std::unique_ptr<DeepZoom> zoom_;
};

// The page and its scripts: the scripts' folder lands before the page that loads them.
class ViewerPage : public Sink {
 public:
  ViewerPage(const SinkSetting& s, const Sink* timeline, TimeOrigin origin)
      : s_(s),
        timeline_(timeline),
        origin_(std::move(origin)),
        page_(viewer_page_path(s.output)),
        scripts_(viewer_folder(s.output)) {}

  base::Result<void, Error> begin(const ImageSize& size, StripImage&) override {
    size_ = size;
    return {};
  }
  base::Result<void, Error> take(const Laid&) override {
    ++strips_;
    return {};
  }
  base::Result<void, Error> finish() override {
    if (base::Status ok = page_.create(); !ok) return base::failure(ok.error());
    if (base::Status ok = scripts_.create(); !ok) return base::failure(ok.error());
    const bool rows = s_.cut == Cut::horizontal;
    const std::vector<StripRecord>* records = timeline_ ? timeline_->records() : nullptr;
    const std::string strips = viewer_strips(records, s_.strip_lines,
                                             rows ? size_.height : size_.width, rows, origin_);
    for (const auto& [name, text] :
         {std::pair{"openseadragon.min.js", openseadragon_script()},
          std::pair{"strips.js", std::string_view(strips)}})
      if (base::Status ok = write_whole(scripts_.temp_path() + "/" + name, text); !ok)
        return base::failure(ok.error().within(scripts_.target() + "/" + name + ": "));
    const std::string page = viewer_page(s_.output, size_, s_.tile_format);
    if (std::fwrite(page.data(), 1, page.size(), page_.stream()) != page.size())
      return base::failed(page_.target() + ": cannot write (" + std::strerror(errno) + ")");
    return {};
  }
  base::Result<void, Error> seal() override {
    if (base::Status ok = scripts_.seal(); !ok) return base::failure(ok.error());
    if (base::Status ok = page_.seal(); !ok) return base::failure(ok.error());
    return {};
  }
  TempOutput* file() override { return &page_; }
  bool replaces() const override { return s_.force; }
  base::Status commit() override {
    if (base::Status ok = scripts_.commit(replaces()); !ok) return ok;
    base::Status ok = page_.commit(replaces());
    if (!ok) take_back_scripts();
    return ok;
  }
  void take_back() override {
    std::remove(page_.target().c_str());
    take_back_scripts();
  }
  void discard() override {
    scripts_.discard();
    page_.discard();
  }

 private:
  static base::Status write_whole(const std::string& path, std::string_view text) {
    std::FILE* file = std::fopen(path.c_str(), "wbe");
    if (file == nullptr) return base::failed("cannot write (" + std::string(std::strerror(errno)) + ")");
    const bool wrote = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int code = errno;
    if (std::fclose(file) != 0 || !wrote)
      return base::failed("cannot write (" + std::string(std::strerror(wrote ? errno : code)) + ")");
    return {};
  }
  void take_back_scripts() {
    std::error_code ignored;
    std::filesystem::remove_all(scripts_.target(), ignored);
  }

  SinkSetting s_;
  const Sink* timeline_;
  TimeOrigin origin_;
  TempOutput page_;
  TempFolder scripts_;
  ImageSize size_;
};

class Taker : public Sink {
 public:
  explicit Taker(std::function<base::Result<void, Error>(const Laid&)> take)
      : take_(std::move(take)) {}
  base::Result<void, Error> begin(const ImageSize& size, StripImage& strip) override {
    if (auto had = strip.allocate(size, "a strip"); !had) return base::failure(had.error());
    return {};
  }
  base::Result<void, Error> take(const Laid& laid) override {
    ++strips_;
    return take_(laid);
  }
  base::Result<void, Error> finish() override { return {}; }

 private:
  std::function<base::Result<void, Error>(const Laid&)> take_;
};

class TimelineFile : public Sink {
 public:
  TimelineFile(const SinkSetting& s, std::string path, std::vector<StripRecord> records,
               std::function<TimelineHead()> head, StripStatsSetting stats)
      : s_(s),
        path_(std::move(path)),
        output_(path_),
        records_(s.strip_lines, std::move(records), s.image_clock),
        head_(std::move(head)),
        stats_(stats) {}

  base::Result<void, Error> begin(const ImageSize&, StripImage&) override { return {}; }
  base::Result<void, Error> take(const Laid& laid) override {
    records_.take(laid);
    if (stats_.channels > 0) {
      // Laid in order one at a time, whatever the threads: the figures cannot differ.
      const int pixel_bytes = laid.strip.size().pixel_bytes;
      strips::ConstBytePlane streak = laid.strip.view();
      if (s_.cut == Cut::vertical) streak.height -= stats_.band;
      else streak.width -= stats_.band * pixel_bytes;
      records_.take_stats(laid.k, strip_stats(streak, stats_.channels, pixel_bytes / stats_.channels));
    }
    ++strips_;
    return {};
  }
  // Written under a temporary name before the image is renamed, and renamed right before it,
  // so that a failure leaves neither file.
  base::Result<void, Error> finish() override {
    const std::vector<StripRecord>& records = records_.finish(strips_);
    finished_ = &records;
    if (base::Status ok = output_.create(); !ok) return base::failure(ok.error());
    TimelineHead head = head_();
    head.stats_channels = stats_.channels;
    const std::string text = timeline_format(path_) == TimelineFormat::json
                                 ? timeline_json(head, records)
                                 : timeline_csv(records, stats_.channels);
    if (std::fwrite(text.data(), 1, text.size(), output_.stream()) != text.size())
      return base::failed(path_ + ": cannot be written");
    return {};
  }
  TempOutput* file() override { return &output_; }
  bool replaces() const override { return s_.force; }
  base::Result<void, Error> seal() override {
    if (base::Status ok = output_.seal(); !ok) return base::failure(ok.error());
    return {};
  }
  bool lands_first() const override { return true; }
  const std::vector<StripRecord>* records() const override { return finished_; }

 private:
  SinkSetting s_;
  const std::vector<StripRecord>* finished_ = nullptr;
  std::string path_;
  TempOutput output_;
  StripRecords records_;
  std::function<TimelineHead()> head_;
  StripStatsSetting stats_;
};

// --flush's file for an input of known length: OUTPUT's name with ".partial" before its
// ending, so that OUTPUT itself appears only when the run is done (and --skip-existing never
// takes a flushed image for a finished one), while the image so far can still be looked at.
std::string partial_name(const std::string& output) {
  const size_t dot = output.rfind('.');  // OUTPUT ends in .png, .tif or .tiff
  return output.substr(0, dot) + ".partial" + output.substr(dot);
}

}  // namespace

std::unique_ptr<Sink> held_png(const SinkSetting& s) { return std::make_unique<HeldPng>(s); }
std::unique_ptr<Sink> streamed_png(const SinkSetting& s) {
  return std::make_unique<StreamedPng>(s);
}
std::unique_ptr<Sink> held_imagej(const SinkSetting& s) {
  return std::make_unique<HeldImageJ>(s);
}
std::unique_ptr<Sink> tiff_bands(const SinkSetting& s) {
  return std::make_unique<TiffSink>(s, false);
}
std::unique_ptr<Sink> tiff_pyramid(const SinkSetting& s) {
  return std::make_unique<TiffSink>(s, true);
}
std::unique_ptr<Sink> deep_zoom(const SinkSetting& s) {
  return std::make_unique<DeepZoomSink>(s);
}
std::unique_ptr<Sink> viewer_sink(const SinkSetting& s, const Sink* timeline, TimeOrigin origin) {
  return std::make_unique<ViewerPage>(s, timeline, std::move(origin));
}
std::unique_ptr<Sink> held_jpeg(const SinkSetting& s) {
  return std::make_unique<HeldCoded>(s, false);
}
std::unique_ptr<Sink> held_webp(const SinkSetting& s) {
  return std::make_unique<HeldCoded>(s, true);
}
std::unique_ptr<Sink> strip_taker(std::function<base::Result<void, Error>(const Laid&)> take) {
  return std::make_unique<Taker>(std::move(take));
}
std::unique_ptr<Sink> timeline_file(const SinkSetting& s, std::string path,
                                    std::vector<StripRecord> records,
                                    std::function<TimelineHead()> head,
                                    StripStatsSetting stats) {
  return std::make_unique<TimelineFile>(s, std::move(path), std::move(records), std::move(head),
                                        stats);
}

void StripRecords::take(const Laid& laid) {
  if (laid.restored != nullptr) {
    records_.push_back(*laid.restored);
    return;
  }
  // A stream's strips are known only as they come: each at its picture's time, its clock
  // the moment it arrived.
  if (arriving_ && laid.stamp != nullptr) {
    StripRecord r;
    r.strip = laid.k;
    r.position = laid.k * strip_lines_;
    r.frame = laid.stamp->frame;
    r.seconds = laid.stamp->seconds;
    r.clock = laid.arrived;
    if (image_clock_) {
      r.clock = picture_clock(laid.stamp->file, *image_clock_);
      r.file = laid.stamp->file.substr(laid.stamp->file.find_last_of('/') + 1);
      if (!r.clock) r.seconds.reset(), r.note = StripNote::no_clock;
    }
    records_.push_back(r);
  }
  if (laid.note && static_cast<size_t>(laid.k) < records_.size())
    records_[laid.k].note = *laid.note;
}

void StripRecords::take_stats(int64_t k, std::vector<ChannelStats> stats) {
  // A stream's records are pushed as strips come; only strip k's own takes the figures.
  if (static_cast<size_t>(k) < records_.size() && records_[static_cast<size_t>(k)].strip == k)
    records_[static_cast<size_t>(k)].stats = std::move(stats);
}

const std::vector<StripRecord>& StripRecords::finish(int64_t strips) {
  if (records_.size() > static_cast<size_t>(strips)) records_.resize(static_cast<size_t>(strips));
  return records_;
}

KeptImage::KeptImage(const SinkSetting& setting, bool grows, std::vector<StripRecord> records,
                     Sink* writer)
    : setting_(setting),
      grows_(grows),
      records_(setting.strip_lines, std::move(records), setting.image_clock),
      writer_(writer) {}

base::Result<void, Error> KeptImage::begin(const ImageSize& size, StripImage& strip) {
  // The writer that holds the image whole has laid the same strips: it is taken over at
  // the end, once written, rather than held twice.
  shared_ = writer_ != nullptr && !grows_ ? writer_->held() : nullptr;
  if (shared_ != nullptr) return allocate_strip(setting_, strip_of(setting_, size), strip);
  if (grows_) {
    // `size` is one strip's.
    if (auto had = allocate_strip(setting_, size, strip); !had) return had;
    const bool vertical = setting_.cut == Cut::vertical;
    grown_ = std::make_unique<GrowingImage>(setting_.cut, setting_.strip_lines,
                                            vertical ? size.height : size.width, size.pixel_bytes);
    return {};
  }
  if (auto fits = check_image_size(size, available_memory()); !fits)
    return base::failure(fits.error().within(setting_.output + ": "));
  if (auto had = image_.allocate(size); !had)
    return base::failed(setting_.output + ": " + had.error().message +
                        "; use --every or a shorter range");
  return allocate_strip(setting_, strip_of(setting_, size), strip);
}

base::Result<void, Error> KeptImage::take(const Laid& laid) {
  records_.take(laid);
  ++strips_;
  if (shared_ != nullptr) return {};
  if (grown_) {
    if (auto added = grown_->add(laid.strip); !added)
      return base::failed(setting_.output + ": " + added.error().message + "; use --every or --to");
    return {};
  }
  strips::place_strip(laid.strip.view(), image_.plane(),
                      strips::ExactStrip{setting_.cut, laid.strip.size().pixel_bytes, 0,
                                         setting_.strip_lines},
                      laid.k);
  return {};
}

base::Result<void, Error> KeptImage::finish() {
  if (grown_) {
    auto whole = grown_->image();
    if (!whole) return base::failure(whole.error().within(setting_.output + ": "));
    image_ = std::move(*whole);
    grown_.reset();  // its strips are in the image now
  }
  // Finished after the writer (the sinks finish in order), whose file is written by now.
  if (shared_ != nullptr) image_ = std::move(*shared_);
  finished_ = records_.finish(strips_);
  return {};
}

Made KeptImage::take_made() { return Made{std::move(image_), std::move(finished_), {}}; }

GrowingSink::GrowingSink(const SinkSetting& setting, Format format, FlushSpec flush,
                         bool length_known)
    : setting_(setting),
      format_(format),
      flush_(std::move(flush)),
      length_known_(length_known),
      output_(setting.output) {}

base::Result<void, Error> GrowingSink::begin(const ImageSize& size, StripImage& strip) {
  // `size` is one strip's: the image's length is not known yet.
  if (auto allocated = allocate_strip(setting_, size, strip); !allocated) return allocated;
  const bool vertical = setting_.cut == Cut::vertical;
  grown_ = std::make_unique<GrowingImage>(setting_.cut, setting_.strip_lines,
                                          vertical ? size.height : size.width, size.pixel_bytes);
  started_ = std::chrono::steady_clock::now();
  return {};
}

base::Result<void, Error> GrowingSink::take(const Laid& laid) {
  const int64_t k = laid.k;
  if (auto added = grown_->add(laid.strip); !added)
    return base::failed(setting_.output + ": " + added.error().message +
                        "; use --every, --to or a TIFF OUTPUT");
  ++strips_;
  if (laid.restored != nullptr) return {};
  return flush_if_due(k + 1);
}

// --flush: OUTPUT replaced by the image so far, under a temporary name and renamed.
base::Result<void, Error> GrowingSink::flush_if_due(int64_t strips) {
  if (!flush_.given) return {};
  const double now =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  if (flush_.seconds ? now - last_flush_ < flush_.time : strips % flush_.strips != 0) return {};
  last_flush_ = now;
  // A stream's image so far is OUTPUT (the run ends when the stream does); an input of known
  // length keeps OUTPUT for the whole image.
  const std::string target = length_known_ ? partial_name(setting_.output) : setting_.output;
  TempOutput flushed(target);
  if (base::Status ok = flushed.create(); !ok) return base::failure(ok.error());
  if (base::Status ok = grown_->write(flushed.stream(), format_, setting_.compress, setting_.threads,
                                 setting_.stop);
      !ok)
    return base::failure(write_failed(setting_, ok.error()));
  // OUTPUT was checked before the run; from the first flush on it is this run's own, as the
  // partial file is.
  if (base::Status ok = flushed.commit(true); !ok) return base::failure(ok.error());
  if (length_known_) partial_ = target;
  flushed_ = strips;
  return {};
}

base::Result<void, Error> GrowingSink::finish() {
  if (base::Status ok = output_.create(); !ok) return base::failure(ok.error());
  if (base::Status ok = grown_->write(output_.stream(), format_, setting_.compress, setting_.threads,
                                 setting_.stop);
      !ok)
    return base::failure(write_failed(setting_, ok.error()));
  return {};
}

base::Result<void, Error> GrowingSink::seal() { return seal_image(setting_, output_); }

ImageSize GrowingSink::size() const { return grown_->size(); }

void GrowingSink::landed() {
  if (!partial_.empty()) std::remove(partial_.c_str());
  partial_.clear();
}

void GrowingSink::discard() {
  output_.discard();
  landed();
}

std::unique_ptr<Sink> image_sink(const SinkSetting& setting, Format format, bool imagej,
                                 bool pyramid) {
  if (format == Format::jpeg) return held_jpeg(setting);
  if (format == Format::webp) return held_webp(setting);
  if (format == Format::dzi) return deep_zoom(setting);
  if (imagej) return held_imagej(setting);
  if (format == Format::tiff) return pyramid ? tiff_pyramid(setting) : tiff_bands(setting);
  if (setting.cut == strips::Cut::horizontal) return streamed_png(setting);
  return held_png(setting);
}

Sink& SinkSet::add(std::unique_ptr<Sink> sink) {
  sinks_.push_back(std::move(sink));
  return *sinks_.back();
}

base::Status SinkSet::begin(const ImageSize& size, StripImage& strip) {
  for (auto& sink : sinks_)
    if (base::Status ready = sink->begin(size, strip); !ready) return ready;
  return {};
}

base::Status SinkSet::take(const Laid& laid) {
  for (auto& sink : sinks_)
    if (base::Status taken = sink->take(laid); !taken) return taken;
  return {};
}

base::Status SinkSet::finish() {
  for (auto& sink : sinks_)
    if (base::Status done = sink->finish(); !done) return done;
  return {};
}

base::Status SinkSet::seal() {
  if (sealed_) return {};
  for (Sink* sink : landing_order())
    if (base::Status sealed = sink->seal(); !sealed) return sealed;
  sealed_ = true;
  return {};
}

base::Status SinkSet::land() {
  std::vector<Sink*> put;
  for (Sink* sink : landing_order()) {
    if (sink->file() == nullptr) continue;
    if (base::Status ok = sink->commit(); !ok) {
      for (Sink* before : put) before->take_back();
      return ok;
    }
    put.push_back(sink);
  }
  landed_ = true;
  for (auto& sink : sinks_) sink->landed();
  return {};
}

void SinkSet::take_back() {
  if (!landed_) return;
  for (Sink* sink : landing_order())
    if (sink->file() != nullptr && !sink->replaces()) sink->take_back();
  landed_ = false;
}

void SinkSet::discard() {
  for (auto& sink : sinks_) sink->discard();
}

void SinkSet::clear() {
  if (!landed_) discard();
  sinks_.clear();
  sealed_ = landed_ = false;
}

// Files about the images (the timeline) first.
std::vector<Sink*> SinkSet::landing_order() const {
  std::vector<Sink*> order;
  for (bool first : {true, false})
    for (const auto& sink : sinks_)
      if (sink->lands_first() == first) order.push_back(sink.get());
  return order;
}

}  // namespace scan
