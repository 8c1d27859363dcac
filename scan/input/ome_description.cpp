// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/ome_description.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace scan {
namespace {

struct ParserFree {
  void operator()(XML_ParserStruct* p) const { XML_ParserFree(p); }
};

// µ is written as the micro sign or the Greek mu; both are read as the micro sign.
std::string micro_sign(std::string unit) {
  if (unit.starts_with("\xCE\xBC")) unit.replace(0, 2, "\xC2\xB5");
  return unit;
}

std::optional<double> seconds_in(const std::string& unit) {
  static const std::map<std::string, double> units = {
      {"s", 1}, {"ms", 1e-3}, {"\xC2\xB5s", 1e-6}, {"ns", 1e-9}, {"min", 60}, {"h", 3600}};
  const auto found = units.find(micro_sign(unit));
  return found == units.end() ? std::nullopt : std::optional<double>(found->second);
}

bool length_unit(const std::string& unit) {
  for (const char* known : {"m", "cm", "mm", "\xC2\xB5m", "nm", "pm", "\xC3\x85"})
    if (micro_sign(unit) == known) return true;
  return false;
}

// An attribute's text in a message: a character reference such as &#10; puts a line break
// or other control character in it, written here as \xNN so the message stays one line.
std::string one_line(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) {
      out += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
      out += hex;
    }
  }
  return out;
}

std::string quoted(const std::string& text) { return "\"" + one_line(text) + "\""; }

struct Mapping {
  int64_t ifd = 0, c = 0, z = 0, t = 0, count = -1;  // count -1: not stated
  bool ifd_given = false;
};

struct PlaneTime {
  int64_t c = 0, z = 0, t = 0;
  double seconds = 0;
};

// What the handlers gather; the first error stops the parse.
struct Reading {
  XML_Parser parser = nullptr;
  std::string file;  // this file's name, without its folder
  bool ome = false, in_pixels = false, pixels_seen = false;
  int depth = 0, pixels_depth = -1;
  OmeDescription d;
  int64_t size_c = 1, samples = 1;
  std::string time_unit = "s", increment_text;
  std::vector<Mapping> mappings;
  std::vector<PlaneTime> plane_times;
  std::string error;

  void fail(std::string why) {
    if (error.empty()) error = std::move(why);
    XML_StopParser(parser, XML_FALSE);
  }
};

std::string local_name(const XML_Char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon ? colon + 1 : name;
}

std::optional<std::string> attribute(const XML_Char** attrs, const char* name) {
  for (int i = 0; attrs[i] != nullptr; i += 2)
    if (local_name(attrs[i]) == name) return std::string(attrs[i + 1]);
  return std::nullopt;
}

// Counts and places up to a TIFF's 32 bits, so that no sum of them overflows.
constexpr int64_t most = INT32_MAX;

// A whole number from `low` to `most`, as the attribute `name` states it; a number of 0 or
// more (below).
bool whole(Reading& r, const XML_Char** attrs, const char* name, int64_t low, int64_t& value) {
  const auto text = attribute(attrs, name);
  if (!text) return true;
  const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (ec != std::errc() || end != text->data() + text->size() || value < low || value > most) {
    r.fail(std::string(name) + "=" + quoted(*text) + " is not a whole number from " + std::to_string(low) +
           " to " + std::to_string(most));
    return false;
  }
  return true;
}

bool number(Reading& r, const std::string& text, const char* name, double& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 0) {
    r.fail(std::string(name) + "=" + quoted(text) + " is not a number of 0 or more");
    return false;
  }
  return true;
}

void XMLCALL on_start(void* user, const XML_Char* element, const XML_Char** attrs) {
  auto& r = *static_cast<Reading*>(user);
  const std::string name = local_name(element);
  ++r.depth;
  if (r.depth == 1) r.ome = name == "OME";
  if (!r.ome) return;
  if (name == "BinaryOnly") return r.fail("its pixels are in another file (BinaryOnly)");
  if (name == "Pixels" && !r.pixels_seen) {
    // The first image's pixels: a file's further images (series) are not read.
    r.pixels_seen = r.in_pixels = true;
    r.pixels_depth = r.depth;
    if (!whole(r, attrs, "SizeC", 1, r.size_c) || !whole(r, attrs, "SizeZ", 1, r.d.slices) ||
        !whole(r, attrs, "SizeT", 1, r.d.frames))
      return;
    r.d.order = attribute(attrs, "DimensionOrder").value_or("XYCZT");
    if (const auto x = attribute(attrs, "PhysicalSizeX")) {
      if (!number(r, *x, "PhysicalSizeX", r.d.pixel_width)) return;
      r.d.unit = micro_sign(attribute(attrs, "PhysicalSizeXUnit").value_or("\xC2\xB5m"));
      if (!length_unit(r.d.unit)) return r.fail("PhysicalSizeXUnit " + quoted(r.d.unit) + " is not a unit of length read here");
    }
    r.time_unit = attribute(attrs, "TimeIncrementUnit").value_or("s");
    r.increment_text = attribute(attrs, "TimeIncrement").value_or("");
    return;
  }
  if (!r.in_pixels) return;
  if (name == "Channel" && r.samples == 1) {
    whole(r, attrs, "SamplesPerPixel", 1, r.samples);
  } else if (name == "TiffData") {
    Mapping m;
    m.ifd_given = attribute(attrs, "IFD").has_value();
    if (whole(r, attrs, "IFD", 0, m.ifd) && whole(r, attrs, "FirstC", 0, m.c) &&
        whole(r, attrs, "FirstZ", 0, m.z) && whole(r, attrs, "FirstT", 0, m.t) &&
        whole(r, attrs, "PlaneCount", 0, m.count))
      r.mappings.push_back(m);
  } else if (name == "UUID") {
    // A TiffData naming another file: the dataset is spread over several.
    const std::string named = attribute(attrs, "FileName").value_or("");
    if (!named.empty() && named.substr(named.find_last_of('/') + 1) != r.file)
      r.fail("its planes are spread over several files (" + one_line(named) +
             "); only a single-file OME-TIFF is read");
  } else if (name == "Plane") {
    PlaneTime p;
    const auto delta = attribute(attrs, "DeltaT");
    if (!delta) return;
    const auto unit = seconds_in(attribute(attrs, "DeltaTUnit").value_or("s"));
    if (!unit) return r.fail("DeltaTUnit " + quoted(*attribute(attrs, "DeltaTUnit")) + " is not a unit of time read here");
    if (whole(r, attrs, "TheC", 0, p.c) && whole(r, attrs, "TheZ", 0, p.z) &&
        whole(r, attrs, "TheT", 0, p.t) && number(r, *delta, "DeltaT", p.seconds)) {
      // A finite number of hours or minutes may be more seconds than a double holds.
      p.seconds *= *unit;
      if (!std::isfinite(p.seconds)) return r.fail("DeltaT=" + quoted(*delta) + " is too long a time");
      r.plane_times.push_back(p);
    }
  }
}

void XMLCALL on_end(void* user, const XML_Char*) {
  auto& r = *static_cast<Reading*>(user);
  if (r.depth-- == r.pixels_depth) r.in_pixels = false;
}

// Where each plane's coordinates go in a plane's number in DimensionOrder.
base::Result<void, base::Error> place_planes(Reading& r) {
  OmeDescription& d = r.d;
  const std::string& o = d.order;
  if (o.size() != 5 || !o.starts_with("XY") || o.find('C') == std::string::npos ||
      o.find('Z') == std::string::npos || o.find('T') == std::string::npos)
    return base::failed("DimensionOrder " + quoted(o) + " is not one of XYCZT, XYCTZ, XYZCT, XYZTC, XYTCZ, XYTZC");
  if (r.size_c % r.samples != 0)
    return base::failed("SizeC " + std::to_string(r.size_c) + " is not a multiple of " +
                        std::to_string(r.samples) + " samples a pixel");
  d.channels = r.size_c / r.samples;
  const std::map<char, int64_t> size = {{'C', d.channels}, {'Z', d.slices}, {'T', d.frames}};
  // Each plane is a page of this file: a count past what a file can hold is damage, not a
  // reason to ask for its memory.
  constexpr int64_t most_planes = int64_t{1} << 22;
  if (d.channels * d.slices > most_planes || d.channels * d.slices * d.frames > most_planes)
    return base::failed("SizeC x SizeZ x SizeT is more than " + std::to_string(most_planes) + " planes");
  const int64_t planes = d.channels * d.slices * d.frames;
  // Plane number in DimensionOrder of (c, z, t), and back.
  const auto number_of = [&](std::map<char, int64_t> at) {
    return at[o[2]] + size.at(o[2]) * (at[o[3]] + size.at(o[3]) * at[o[4]]);
  };
  const auto imagej_of = [&](int64_t n) {
    std::map<char, int64_t> at;
    at[o[2]] = n % size.at(o[2]);
    at[o[3]] = n / size.at(o[2]) % size.at(o[3]);
    at[o[4]] = n / size.at(o[2]) / size.at(o[3]);
    return at['C'] + d.channels * (at['Z'] + d.slices * at['T']);
  };
  d.pages.assign(static_cast<size_t>(planes), -1);
  if (r.mappings.empty()) r.mappings.push_back(Mapping{});
  for (const Mapping& m : r.mappings) {
    if (m.c >= d.channels || m.z >= d.slices || m.t >= d.frames)
      return base::failed("a TiffData's first plane lies outside SizeC, SizeZ and SizeT");
    const int64_t from = number_of({{'C', m.c}, {'Z', m.z}, {'T', m.t}});
    // Without PlaneCount: one plane when IFD is given, else all of them.
    const int64_t count = m.count >= 0 ? m.count : m.ifd_given ? 1 : planes - from;
    if (count > planes - from) return base::failed("a TiffData's planes run past SizeC x SizeZ x SizeT");
    for (int64_t i = 0; i < count; ++i) d.pages[static_cast<size_t>(imagej_of(from + i))] = m.ifd + i;
  }
  for (size_t i = 0; i < d.pages.size(); ++i)
    if (d.pages[i] < 0)
      return base::failed("plane C=" + std::to_string(i % d.channels) + " Z=" +
                          std::to_string(i / d.channels % d.slices) + " T=" +
                          std::to_string(i / d.channels / d.slices) + " is in no page (TiffData)");
  // A page holds one plane: TiffData giving two planes the same page would show one of them
  // as the other.
  std::vector<int64_t> sorted = d.pages;
  std::sort(sorted.begin(), sorted.end());
  if (const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
      twice != sorted.end())
    return base::failed("page " + std::to_string(*twice + 1) + " holds two planes (TiffData)");
  return {};
}

base::Result<void, base::Error> time_step(Reading& r) {
  OmeDescription& d = r.d;
  const auto unit = seconds_in(r.time_unit);
  if (!unit) return base::failed("TimeIncrementUnit " + quoted(r.time_unit) + " is not a unit of time read here");
  if (!r.increment_text.empty()) {
    if (!number(r, r.increment_text, "TimeIncrement", d.interval)) return base::failed(r.error);
    d.interval *= *unit;
    if (!std::isfinite(d.interval))
      return base::failed("TimeIncrement=" + quoted(r.increment_text) + " is too long a time");
    return {};
  }
  std::optional<double> first, last;
  for (const PlaneTime& p : r.plane_times) {
    if (p.c != 0 || p.z != 0) continue;
    if (p.t == 0) first = p.seconds;
    if (p.t == d.frames - 1) last = p.seconds;
  }
  if (first && last && d.frames > 1 && *last > *first)
    d.interval = (*last - *first) / static_cast<double>(d.frames - 1);
  return {};
}

}  // namespace

base::Result<std::optional<OmeDescription>, base::Error> parse_ome_description(
    const std::string& text, const std::string& file) {
  // Not XML at all: an ImageDescription of another kind.
  if (text.find("<OME") == std::string::npos && text.find(":OME") == std::string::npos)
    return std::optional<OmeDescription>();
  if (text.size() > static_cast<size_t>(most)) return base::failed("its OME-XML is too long");
  std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreate("UTF-8"));
  if (!parser) return base::failed("out of memory for its OME-XML");
  Reading r;
  r.parser = parser.get();
  r.file = file.substr(file.find_last_of('/') + 1);
  XML_SetUserData(parser.get(), &r);
  XML_SetElementHandler(parser.get(), on_start, on_end);
  if (XML_Parse(parser.get(), text.data(), static_cast<int>(text.size()), XML_TRUE) == XML_STATUS_ERROR) {
    if (!r.error.empty()) return base::failed("its OME-XML: " + r.error);
    return base::failed("its OME-XML is damaged (" +
                        std::string(XML_ErrorString(XML_GetErrorCode(parser.get()))) + " at line " +
                        std::to_string(XML_GetCurrentLineNumber(parser.get())) + ")");
  }
  if (!r.ome) return std::optional<OmeDescription>();
  if (!r.pixels_seen) return base::failed("its OME-XML has no Pixels");
  if (auto placed = place_planes(r); !placed)
    return base::failure(placed.error().within("its OME-XML: "));
  if (auto timed = time_step(r); !timed) return base::failure(timed.error().within("its OME-XML: "));
  return std::optional<OmeDescription>(std::move(r.d));
}

int64_t ome_points(const std::vector<int64_t>& pages, int64_t first, int64_t stride, int64_t count) {
  int64_t points = 0;
  for (size_t i = static_cast<size_t>(first); i < pages.size() && pages[i] < count;
       i += static_cast<size_t>(stride))
    ++points;
  return points;
}

}  // namespace scan
