// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/sinks.h"

#include <cstdio>

#include "scan/output/growing_image.h"
#include "scan/output/png_output.h"
#include "scan/output/tiff_output.h"

namespace scan {
namespace {

using strips::Cut;

Error failed(std::string message) { return Error{ExitStatus::failed, std::move(message)}; }

// A write that failed: said as OUTPUT's, unless the run was asked to stop meanwhile.
Error write_failed(const SinkSetting& s, const std::string& error) {
  if (s.stop && s.stop()) return s.interrupted();
  return failed(s.output + ": " + error);
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
    return base::failure(failed(s.output + ": " + had.error()));
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

class HeldPng : public ImageFile {
 public:
  using ImageFile::ImageFile;

  base::Result<void, Error> begin(const ImageSize& size, StripImage& strip) override {
    if (auto fits = check_image_size(size, available_memory()); !fits)
      return base::failure(failed(s_.output + ": " + fits.error()));
    if (base::Status ok = output_.create(); !ok) return base::failure(failed(ok.error()));
    if (auto had = image_.allocate(size); !had)
      return base::failure(failed(s_.output + ": " + had.error() +
                                  "; use --every or a shorter range"));
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
  base::Result<void, Error> finish() override {
    if (base::Status ok = write_png(output_.stream(), image_, s_.threads, png_chunk_bytes, s_.stop);
        !ok)
      return base::failure(write_failed(s_, ok.error()));
    return {};
  }

 private:
  StripImage image_;
};

class StreamedPng : public ImageFile {
 public:
  using ImageFile::ImageFile;

  base::Result<void, Error> begin(const ImageSize& size, StripImage& strip) override {
    if (auto fits = check_image_size(size, -1); !fits)
      return base::failure(failed(s_.output + ": " + fits.error()));
    if (base::Status ok = output_.create(); !ok) return base::failure(failed(ok.error()));
    const ImageSize rows = strip_of(s_, size);
    if (auto had = strip.allocate(rows); !had)
      return base::failure(failed(s_.output + ": " + had.error() +
                                  "; use --every or a shorter range"));
    writer_ = std::make_unique<PngWriter>(output_.stream(), size, s_.threads, png_chunk_bytes,
                                          s_.stop);
    if (base::Status ok = writer_->begin(); !ok)
      return base::failure(failed(s_.output + ": " + ok.error()));
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
  using ImageFile::ImageFile;

  base::Result<void, Error> begin(const ImageSize& size, StripImage& strip) override {
    if (size.width > tiff_max_side || size.height > tiff_max_side)
      return base::failure(failed(s_.output + ": the image would be " +
                                  std::to_string(size.width) + " x " +
                                  std::to_string(size.height) +
                                  " pixels, more than TIFF allows (" +
                                  std::to_string(tiff_max_side) +
                                  " a side); use --every or a shorter range"));
    if (base::Status ok = output_.create(); !ok) return base::failure(failed(ok.error()));
    auto opened = TiffBands::open(fileno(output_.stream()), size, s_.cut, s_.compress,
                                  needs_bigtiff(size, s_.compress));
    if (!opened) return base::failure(write_failed(s_, opened.error()));
    tiff_ = std::move(*opened);
    return allocate_strip(s_, strip_of(s_, size), strip);
  }
  base::Result<void, Error> take(const Laid& laid) override {
    const StripImage& strip = laid.strip;
    if (auto added = tiff_->add(strip.view()); !added) return base::failure(write_failed(s_, added.error()));
    ++strips_;
    return {};
  }
  base::Result<void, Error> finish() override {
    if (auto written = tiff_->finish(); !written)
      return base::failure(write_failed(s_, written.error()));
    return {};
  }
  void discard() override {
    tiff_.reset();  // before its file is closed
    output_.discard();
  }

 private:
  std::unique_ptr<TiffBands> tiff_;  // goes before output_, whose file it writes to
};

class Taker : public Sink {
 public:
  explicit Taker(std::function<base::Result<void, Error>(const Laid&)> take)
      : take_(std::move(take)) {}
  base::Result<void, Error> begin(const ImageSize& size, StripImage& strip) override {
    if (auto had = strip.allocate(size, "a strip"); !had) return base::failure(failed(had.error()));
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
               std::function<TimelineHead()> head)
      : s_(s),
        path_(std::move(path)),
        output_(path_),
        records_(std::move(records)),
        arriving_(records_.empty()),
        head_(std::move(head)) {}

  base::Result<void, Error> begin(const ImageSize&, StripImage&) override { return {}; }
  base::Result<void, Error> take(const Laid& laid) override {
    // A stream's strips are known only as they come: each at its picture's time, its clock
    // the moment it arrived.
    if (arriving_ && laid.stamp != nullptr) {
      StripRecord r;
      r.strip = laid.k;
      r.position = laid.k * s_.strip_lines;
      r.frame = laid.stamp->frame;
      r.seconds = laid.stamp->seconds;
      r.clock = s_.image_clock ? picture_clock(laid.stamp->file, *s_.image_clock) : now_clock();
      if (s_.image_clock) {
        r.file = laid.stamp->file.substr(laid.stamp->file.find_last_of('/') + 1);
        if (!r.clock) r.seconds.reset(), r.note = StripNote::no_clock;
      }
      records_.push_back(r);
    }
    if (laid.note && static_cast<size_t>(laid.k) < records_.size())
      records_[laid.k].note = *laid.note;
    ++strips_;
    return {};
  }
  // Written under a temporary name before the image is renamed, and renamed right before it,
  // so that a failure leaves neither file.
  base::Result<void, Error> finish() override {
    // A signal may have ended the run before the strips planned were all there.
    if (records_.size() > static_cast<size_t>(strips_))
      records_.resize(static_cast<size_t>(strips_));
    if (base::Status ok = output_.create(); !ok) return base::failure(failed(ok.error()));
    const std::string text = timeline_format(path_) == TimelineFormat::json
                                 ? timeline_json(head_(), records_)
                                 : timeline_csv(records_);
    if (std::fwrite(text.data(), 1, text.size(), output_.stream()) != text.size())
      return base::failure(failed(path_ + ": cannot be written"));
    return {};
  }
  TempOutput* file() override { return &output_; }
  bool replaces() const override { return s_.force; }
  base::Result<void, Error> seal() override {
    if (base::Status ok = output_.seal(); !ok) return base::failure(failed(ok.error()));
    return {};
  }
  bool lands_first() const override { return true; }

 private:
  SinkSetting s_;
  std::string path_;
  TempOutput output_;
  std::vector<StripRecord> records_;
  bool arriving_;
  std::function<TimelineHead()> head_;
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
std::unique_ptr<Sink> tiff_bands(const SinkSetting& s) { return std::make_unique<TiffSink>(s); }
std::unique_ptr<Sink> strip_taker(std::function<base::Result<void, Error>(const Laid&)> take) {
  return std::make_unique<Taker>(std::move(take));
}
std::unique_ptr<Sink> timeline_file(const SinkSetting& s, std::string path,
                                    std::vector<StripRecord> records,
                                    std::function<TimelineHead()> head) {
  return std::make_unique<TimelineFile>(s, std::move(path), std::move(records), std::move(head));
}

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
    return base::failure(
        failed(setting_.output + ": " + added.error() + "; use --every, --to or a TIFF OUTPUT"));
  ++strips_;
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
  if (base::Status ok = flushed.create(); !ok) return base::failure(failed(ok.error()));
  if (base::Status ok = grown_->write(flushed.stream(), format_, setting_.compress, setting_.threads,
                                 setting_.stop);
      !ok)
    return base::failure(write_failed(setting_, ok.error()));
  // OUTPUT was checked before the run; from the first flush on it is this run's own, as the
  // partial file is.
  if (base::Status ok = flushed.commit(true); !ok) return base::failure(failed(ok.error()));
  if (length_known_) partial_ = target;
  return {};
}

base::Result<void, Error> GrowingSink::finish() {
  if (base::Status ok = output_.create(); !ok) return base::failure(failed(ok.error()));
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

}  // namespace scan
