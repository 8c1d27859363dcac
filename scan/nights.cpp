// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/nights.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include <sys/stat.h>

#include "base/text.h"
#include "scan/input/image_list.h"
#include "scan/output/output_file.h"
#include "scan/output/png_output.h"
#include "scan/output/png_rows.h"
#include "scan/time/timeline.h"

namespace scan {
namespace {

constexpr int64_t day_micros = int64_t{86400} * 1000000;

int64_t floor_mod(int64_t a, int64_t b) { return ((a % b) + b) % b; }
int64_t floor_day(int64_t civil) { return (civil - floor_mod(civil, day_micros)) / day_micros; }

std::string date_text(int64_t day) { return iso_time(WallTime{day * day_micros, {}}).substr(0, 10); }

std::string time_of_day_text(int64_t micros) {
  return iso_time(WallTime{floor_mod(micros, day_micros), {}}).substr(11);
}

// The date a file's name holds (20261207 or 2026-12-07, the first such), as days.
std::optional<int64_t> name_date(const std::string& path) {
  const std::string name = path.substr(path.rfind('/') + 1);
  for (size_t at = 0; at < name.size(); ++at) {
    for (const bool dashed : {false, true}) {
      const size_t length = dashed ? 10 : 8;
      if (at + length > name.size() || (at > 0 && std::isdigit(static_cast<unsigned char>(name[at - 1]))) ||
          (at + length < name.size() && std::isdigit(static_cast<unsigned char>(name[at + length]))))
        continue;
      std::string text = name.substr(at, length);
      if (!dashed) text = text.substr(0, 4) + "-" + text.substr(4, 2) + "-" + text.substr(6, 2);
      if (std::optional<WallTime> day = parse_iso_time(text + "T00:00:00")) return floor_day(day->civil_micros);
    }
  }
  return std::nullopt;
}

// Bins as "0-3 7 9-11".
std::string ranges_text(const std::vector<int64_t>& bins) {
  std::string text;
  for (size_t i = 0; i < bins.size();) {
    size_t j = i;
    while (j + 1 < bins.size() && bins[j + 1] == bins[j] + 1) ++j;
    if (!text.empty()) text += ' ';
    text += std::to_string(bins[i]);
    if (j > i) text += '-' + std::to_string(bins[j]);
    i = j + 1;
  }
  return text;
}

struct Strip {
  int64_t position = 0, width = 0;
  int64_t civil = 0;
};

// One nightly image, as the first pass finds it.
struct Night {
  std::string file;
  ImageSize size;
  std::vector<Strip> strips;
  std::optional<int64_t> day;
  std::string note;  // why it is black: unreadable, no-timeline, odd-size; damaged when cut short
};

// A band of the long view: its night (or none: missing) and what the timeline says of it.
struct Band {
  int64_t day = 0;
  const Night* night = nullptr;
  int64_t strips = 0;
  std::string empty;  // bins without a strip
  std::string note;
};

base::Result<std::string, base::Error> read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return base::failed(path + ": cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return base::failed(path + ": cannot be read");
  return text.str();
}

// NAME.png's timeline: NAME.csv.
std::string timeline_beside(const std::string& image) {
  return image.substr(0, image.size() - 4) + ".csv";
}

class LongView {
 public:
  LongView(const Request& o, Reporter& reporter, const Stopping& stopping)
      : o_(o), reporter_(reporter), stopping_(stopping) {}
  base::Result<void, Error> run();

 private:
  void warn(const std::string& line) const {
    if (!o_.quiet) reporter_.say(line);
  }
  int abandon_asked() const { return stopping_.abandon ? stopping_.abandon() : 0; }
  base::Failure<Error> interrupted() const {
    return base::failure(Error{ExitStatus::interrupted, "interrupted; no image written", abandon_asked()});
  }
  void read_night(Night& night) const;
  void lay_out();
  base::Result<void, Error> write_band(PngWriter& png, Band& band, std::vector<uint8_t>& row);
  std::string timeline_text() const;

  const Request& o_;
  Reporter& reporter_;
  const Stopping& stopping_;
  std::vector<Night> nights_;
  DayWindow window_;
  bool closed_end_ = true;
  std::vector<Band> bands_;
  ImageSize band_size_;  // the first night's: width the bins, height and depth its own
};

void LongView::read_night(Night& night) const {
  PngRows rows;
  if (base::Status opened = rows.open(night.file); !opened) {
    night.note = "unreadable";
    warn(opened.error().message + "; its night is black");
    return;
  }
  night.size = rows.size();
  const std::string timeline = timeline_beside(night.file);
  auto text = read_text(timeline);
  auto records = text ? read_timeline_csv(*text)
                      : base::Result<std::vector<StripRecord>, base::Error>(base::failed(""));
  if (!records) {
    night.note = "no-timeline";
    warn(night.file + ": " +
         (text ? timeline + ": " + records.error().message : text.error().message) +
         "; its night is black");
    return;
  }
  for (size_t i = 0; i < records->size(); ++i) {
    const StripRecord& r = (*records)[i];
    const int64_t end = i + 1 < records->size() ? (*records)[i + 1].position : night.size.width;
    if (end <= r.position || end > night.size.width) {
      night.note = "no-timeline";
      warn(night.file + ": " + timeline + ": its strips do not lie across the image's " +
           std::to_string(night.size.width) + " columns; its night is black");
      night.strips.clear();
      return;
    }
    // A gap or a picture without a clock has no time of day to be laid at.
    if (r.clock && r.note != StripNote::gap && r.note != StripNote::no_clock)
      night.strips.push_back({r.position, end - r.position, r.clock->civil_micros});
  }
}

// The window, each night's date and the bands from the first date to the last.
void LongView::lay_out() {
  std::vector<int64_t> times;
  for (const Night& night : nights_)
    for (const Strip& s : night.strips) times.push_back(floor_mod(s.civil, day_micros));
  closed_end_ = !o_.window.given;
  window_ = o_.window.given ? DayWindow{o_.window.start, floor_mod(o_.window.end - o_.window.start - 1, day_micros) + 1}
                            : window_around(std::move(times));
  std::map<int64_t, const Night*> by_day;
  for (Night& night : nights_) {
    for (const Strip& s : night.strips) {
      const BinPlace place = bin_of(s.civil, window_, o_.bins, closed_end_);
      if (place.bin >= 0) {
        night.day = place.day;
        break;
      }
    }
    if (!night.day) night.day = name_date(night.file);
    if (!night.day && !night.strips.empty()) night.day = bin_of(night.strips.front().civil, window_, o_.bins, closed_end_).day;
    if (!night.day) {
      warn(night.file + ": no date in its timeline or its name; left out");
      continue;
    }
    auto [at, added] = by_day.emplace(*night.day, &night);
    if (!added)
      warn(night.file + ": the night of " + date_text(*night.day) + " is " + at->second->file +
           "; left out");
  }
  // The first night that can be read sets the bands' height and depth.
  for (const auto& [day, night] : by_day)
    if (night->note != "unreadable") {
      band_size_ = night->size;
      break;
    }
  band_size_.width = o_.bins;
  if (by_day.empty()) return;
  for (int64_t day = by_day.begin()->first; day <= by_day.rbegin()->first; ++day) {
    Band band{day, nullptr, 0, {}, {}};
    const auto at = by_day.find(day);
    if (at == by_day.end()) {
      band.note = "missing";
    } else {
      band.night = at->second;
      band.note = band.night->note;
      if (band.note.empty() && (band.night->size.height != band_size_.height ||
                                band.night->size.pixel_bytes != band_size_.pixel_bytes)) {
        band.note = "odd-size";
        warn(band.night->file + ": " + std::to_string(band.night->size.width) + " x " +
             std::to_string(band.night->size.height) + (band.night->size.pixel_bytes == 6 ? ", 16" : ", 8") +
             "-bit, not " + std::to_string(band_size_.height) + " rows of " +
             (band_size_.pixel_bytes == 6 ? "16" : "8") + " bits as the first night; its night is black");
      }
    }
    bands_.push_back(std::move(band));
  }
}

// One night's band: each output row the means of its image row's columns bin by bin.
base::Result<void, Error> LongView::write_band(PngWriter& png, Band& band, std::vector<uint8_t>& out) {
  const int64_t bins = o_.bins;
  const int channels = 3;
  const bool deep = band_size_.pixel_bytes == 6;
  const auto emit_black = [&](int64_t rows) -> base::Result<void, Error> {
    std::fill(out.begin(), out.end(), 0);
    for (int64_t y = 0; y < rows; ++y)
      if (base::Status ok = png.add_rows(out.data(), 1, static_cast<int64_t>(out.size())); !ok)
        return base::failure(ok.error().within(o_.output + ": "));
    return {};
  };
  std::vector<int64_t> column_bin;
  std::vector<int64_t> columns(static_cast<size_t>(bins), 0);
  if (band.note.empty()) {
    const Night& night = *band.night;
    column_bin.assign(static_cast<size_t>(night.size.width), -1);
    for (const Strip& s : night.strips) {
      const BinPlace place = bin_of(s.civil, window_, bins, closed_end_);
      if (place.bin < 0 || place.day != band.day) continue;
      ++band.strips;
      std::fill_n(column_bin.begin() + s.position, s.width, place.bin);
      columns[static_cast<size_t>(place.bin)] += s.width;
    }
  }
  std::vector<int64_t> empty;
  for (int64_t b = 0; b < bins; ++b)
    if (columns[static_cast<size_t>(b)] == 0) empty.push_back(b);
  band.empty = ranges_text(empty);
  if (!band.note.empty()) return emit_black(band_size_.height);
  PngRows rows;
  if (base::Status opened = rows.open(band.night->file); !opened) {
    band.note = "unreadable";
    warn(opened.error().message + "; its night is black");
    return emit_black(band_size_.height);
  }
  std::vector<uint8_t> in(static_cast<size_t>(band.night->size.width * band_size_.pixel_bytes));
  std::vector<uint64_t> sums(static_cast<size_t>(bins * channels));
  for (int64_t y = 0; y < band_size_.height; ++y) {
    if (abandon_asked() != 0) return interrupted();
    if (base::Status read = rows.read_row(in.data()); !read) {
      band.note = "damaged";
      warn(read.error().message + "; its night is black from row " + std::to_string(y));
      return emit_black(band_size_.height - y);
    }
    std::fill(sums.begin(), sums.end(), 0);
    for (size_t x = 0; x < column_bin.size(); ++x) {
      if (column_bin[x] < 0) continue;
      uint64_t* sum = &sums[static_cast<size_t>(column_bin[x] * channels)];
      for (int c = 0; c < channels; ++c)
        sum[c] += deep ? (uint64_t{in[(x * 3 + c) * 2]} << 8) | in[(x * 3 + c) * 2 + 1]
                       : in[x * 3 + c];
    }
    for (size_t i = 0; i < sums.size(); ++i) {
      const auto count = static_cast<uint64_t>(columns[i / channels]);
      const uint64_t mean = count == 0 ? 0 : (sums[i] + count / 2) / count;  // half up
      if (deep) {
        out[2 * i] = static_cast<uint8_t>(mean >> 8);
        out[2 * i + 1] = static_cast<uint8_t>(mean);
      } else {
        out[i] = static_cast<uint8_t>(mean);
      }
    }
    if (base::Status ok = png.add_rows(out.data(), 1, static_cast<int64_t>(out.size())); !ok)
      return base::failure(ok.error().within(o_.output + ": "));
  }
  return {};
}

std::string LongView::timeline_text() const {
  const bool json = timeline_format(o_.timeline) == TimelineFormat::json;
  std::string text = json ? "{\"window\":{\"start\":\"" + time_of_day_text(window_.start) +
                                "\",\"end\":\"" + time_of_day_text(window_.start + window_.length) +
                                "\",\"bins\":" + std::to_string(o_.bins) + "},\"image\":{\"width\":" +
                                std::to_string(band_size_.width) + ",\"height\":" +
                                std::to_string(band_size_.height * static_cast<int64_t>(bands_.size())) +
                                ",\"band\":" + std::to_string(band_size_.height) + "},\"nights\":["
                          : "night,position,date,file,strips,empty_bins,note\n";
  for (size_t i = 0; i < bands_.size(); ++i) {
    const Band& b = bands_[i];
    const std::string file = b.night != nullptr ? b.night->file : "";
    const std::string position = std::to_string(static_cast<int64_t>(i) * band_size_.height);
    if (json) {
      const auto quoted = [](const std::string& s) {
        std::string q = "\"";
        for (char c : s) {
          if (c == '"' || c == '\\') q += '\\';
          q += c;
        }
        return q + "\"";
      };
      text += std::string(i ? ",\n" : "\n") + "{\"night\":" + std::to_string(i) + ",\"position\":" +
              position + ",\"date\":\"" + date_text(b.day) + "\",\"file\":" + quoted(file) +
              ",\"strips\":" + std::to_string(b.strips) + ",\"empty_bins\":\"" + b.empty +
              "\",\"note\":\"" + b.note + "\"}";
    } else {
      const bool quote = file.find_first_of(",\"\r\n") != std::string::npos;
      std::string field = file;
      if (quote) {
        field = "\"";
        for (char c : file) field += c == '"' ? std::string("\"\"") : std::string(1, c);
        field += "\"";
      }
      text += std::to_string(i) + "," + position + "," + date_text(b.day) + "," + field + "," +
              std::to_string(b.strips) + "," + b.empty + "," + b.note + "\n";
    }
  }
  return json ? text + "\n]}\n" : text;
}

base::Result<void, Error> LongView::run() {
  if (output_format(o_.output) != Format::png)
    return base::usage(o_.output + ": the long view is written as a PNG (.png)");
  if (struct stat st {}; o_.skip_existing && stat(o_.output.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
    warn(o_.output + ": exists; skipped (--skip-existing)");
    return {};
  }
  if (base::Status ok = check_output(o_.output, o_.force); !ok)
    return base::failure(ok.error());
  if (!o_.timeline.empty())
    if (base::Status ok = check_output(o_.timeline, o_.force); !ok)
      return base::failure(ok.error());
  const SequenceKind kind = sequence_kind(o_.input);
  if (kind != SequenceKind::folder && kind != SequenceKind::glob)
    return base::usage("--nights: " + o_.input + " is not a folder or a glob of nightly images");
  auto listed = list_images(o_.input, kind);
  if (!listed) return base::failure(listed.error());
  for (const std::string& file : *listed)
    if (base::ends_with_ignoring_case(file, ".png")) nights_.push_back(Night{file, {}, {}, {}, {}});
  if (nights_.empty())
    return base::failed(o_.input + ": no PNG image (a night's image is a PNG)");
  for (Night& night : nights_) {
    if (abandon_asked() != 0) return interrupted();
    read_night(night);
  }
  lay_out();
  if (band_size_.height == 0)
    return base::failed(o_.input + ": no night could be read");
  bool timed = false;
  for (const Band& band : bands_) timed = timed || (band.note.empty() && !band.night->strips.empty());
  if (!timed)
    return base::failed(o_.input + ": no night has a strip with a clock");
  const ImageSize size{o_.bins, band_size_.height * static_cast<int64_t>(bands_.size()), band_size_.pixel_bytes};
  if (size.height > png_max_side)
    return base::failed(o_.output + ": " + std::to_string(bands_.size()) +
                            " nights of " + std::to_string(band_size_.height) +
                            " rows pass a PNG's limit of " + std::to_string(png_max_side) + " rows");
  TempOutput image(o_.output);
  if (base::Status ok = image.create(); !ok) return base::failure(ok.error());
  PngWriter png(image.stream(), size, o_.threads > 0 ? o_.threads : default_threads(), png_chunk_bytes,
                [this] { return abandon_asked() != 0; });
  if (base::Status ok = png.begin(); !ok) return base::failure(ok.error().within(o_.output + ": "));
  std::vector<uint8_t> row(static_cast<size_t>(size.width * size.pixel_bytes));
  for (Band& band : bands_) {
    if (abandon_asked() != 0) return interrupted();
    if (auto written = write_band(png, band, row); !written) return written;
  }
  if (base::Status ok = png.finish(); !ok) {
    if (abandon_asked() != 0) return interrupted();
    return base::failure(ok.error().within(o_.output + ": "));
  }
  std::optional<TempOutput> timeline;
  if (!o_.timeline.empty()) {
    timeline.emplace(o_.timeline);
    const std::string text = timeline_text();
    if (base::Status ok = timeline->create(); !ok) return base::failure(ok.error());
    if (std::fwrite(text.data(), 1, text.size(), timeline->stream()) != text.size())
      return base::failed(o_.timeline + ": cannot be written");
    if (base::Status ok = timeline->seal(); !ok) return base::failure(ok.error());
  }
  if (base::Status ok = image.seal(); !ok) return base::failure(ok.error());
  if (abandon_asked() != 0) return interrupted();
  if (timeline)
    if (base::Status ok = timeline->commit(o_.force); !ok) return base::failure(ok.error());
  if (base::Status ok = image.commit(o_.force); !ok) return base::failure(ok.error());
  int64_t missing = 0;
  for (const Band& band : bands_) missing += band.note == "missing";
  if (missing > 0)
    warn(std::to_string(missing) + " night" + (missing == 1 ? "" : "s") + " between " +
         date_text(bands_.front().day) + " and " + date_text(bands_.back().day) +
         " without an image, laid black");
  return {};
}

}  // namespace

BinPlace bin_of(int64_t civil, const DayWindow& window, int64_t bins, bool closed_end) {
  const int64_t offset = floor_mod(civil - window.start, day_micros);
  BinPlace place;
  place.day = floor_day(civil - offset);
  if (offset > window.length || (offset == window.length && !closed_end)) return place;
  place.bin = window.length == 0 ? 0 : std::min(bins - 1, offset * bins / window.length);
  return place;
}

DayWindow window_around(std::vector<int64_t> times) {
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  if (times.empty()) return {};
  // The stretch after the last time wraps round to the first.
  size_t after = times.size() - 1;
  int64_t longest = times.front() + day_micros - times.back();
  for (size_t i = 0; i + 1 < times.size(); ++i)
    if (times[i + 1] - times[i] > longest) {
      longest = times[i + 1] - times[i];
      after = i;
    }
  const int64_t start = times[(after + 1) % times.size()];
  return {start, floor_mod(times[after] - start, day_micros)};
}

base::Result<void, Error> run_nights(const Request& request, Reporter& reporter,
                                     const Stopping& stopping) {
  return LongView(request, reporter, stopping).run();
}

}  // namespace scan
