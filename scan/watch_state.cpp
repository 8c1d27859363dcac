// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/watch_state.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include <sys/stat.h>

#include "scan/output/output_file.h"

namespace scan {
namespace {

constexpr std::string_view magic = "velmora-scan state 1\n";

// Request that say how the run goes, not what it makes.
bool shapes_output(const std::string& name) {
  for (const char* only_how : {"threads", "flush", "idle", "force", "skip-existing", "quiet"})
    if (name == only_how) return false;
  return true;
}

// A word of a line: bytes below '!', '%' and DEL as %XX, so that names with blanks survive.
std::string escaped(const std::string& text) {
  std::string out = text.empty() ? "%" : "";  // "%" alone: the empty word
  for (const unsigned char c : text) {
    if (c > ' ' && c != '%' && c != 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

std::optional<std::string> unescaped(const std::string& word) {
  if (word == "%") return std::string();
  std::string out;
  for (size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%') {
      out += word[i];
      continue;
    }
    unsigned value = 0;
    if (i + 2 >= word.size()) return std::nullopt;
    if (std::sscanf(word.substr(i + 1, 2).c_str(), "%2x", &value) != 1) return std::nullopt;
    out += static_cast<char>(value);
    i += 2;
  }
  return out;
}

// FNV-1a: enough to tell a torn or damaged file from a whole one.
uint64_t checksum(const char* bytes, size_t n) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < n; ++i) hash = (hash ^ static_cast<unsigned char>(bytes[i])) * 0x100000001b3ull;
  return hash;
}

std::string optional_number(const std::optional<int64_t>& n) {
  return n ? std::to_string(*n) : "-";
}

bool read_optional(const std::string& word, std::optional<int64_t>& n) {
  if (word == "-") return n.reset(), true;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(word.c_str(), &end, 10);
  if (errno != 0 || end == word.c_str() || *end != '\0') return false;
  n = v;
  return true;
}

base::Result<WatchState, base::Error> parse(const std::string& text) {
  const auto damaged = [](const std::string& why) {
    return base::failed("damaged (" + why + "); remove it and OUTPUT to start anew");
  };
  const size_t check_at = text.rfind("check ");
  if (!text.starts_with(magic) || check_at == std::string::npos || !text.ends_with('\n'))
    return damaged("not a whole state file");
  uint64_t stated = 0;
  if (std::sscanf(text.c_str() + check_at, "check %" SCNx64, &stated) != 1 ||
      stated != checksum(text.data(), check_at))
    return damaged("its checksum does not match");
  WatchState state;
  size_t at = magic.size();
  int64_t pixel_bytes = -1;
  while (at < check_at && pixel_bytes < 0) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos || end > check_at) return damaged("a line breaks off");
    std::istringstream line(text.substr(at, end - at));
    at = end + 1;
    std::string kind;
    line >> kind;
    std::vector<std::string> words;
    for (std::string w; line >> w;) words.push_back(w);
    const auto number = [&](size_t i, int64_t& n) {
      std::optional<int64_t> v;
      if (i >= words.size() || !read_optional(words[i], v) || !v) return false;
      n = *v;
      return true;
    };
    int64_t a = 0, b = 0, c = 0, d = 0, r_position = 0;
    if (kind == "set" && words.size() == 2) {
      auto name = unescaped(words[0]), value = unescaped(words[1]);
      if (!name || !value) return damaged("a setting");
      state.settings.emplace_back(*name, *value);
    } else if (kind == "source" && number(0, a) && number(1, b) && number(2, c) && number(3, d)) {
      state.shape = PictureShape{static_cast<int>(a), static_cast<int>(b), c != 0};
      state.orientation = static_cast<int>(d);
    } else if (kind == "strip-size" && number(0, a) && number(1, b) && number(2, c)) {
      state.strip = ImageSize{a, b, static_cast<int>(c)};
    } else if (kind == "strip" && words.size() == 9 && number(1, r_position)) {
      StripRecord r;
      r.position = r_position;
      std::optional<int64_t> clock, offset;
      auto file = unescaped(words[7]), path = unescaped(words[8]);
      char* end_seconds = nullptr;
      const double seconds = std::strtod(words[3].c_str(), &end_seconds);
      if (!number(0, r.strip) || !number(2, r.frame) || !read_optional(words[4], clock) ||
          !read_optional(words[5], offset) || !number(6, a) || a < 0 ||
          a > static_cast<int64_t>(StripNote::damaged) || !file || !path ||
          (words[3] != "-" && *end_seconds != '\0'))
        return damaged("a strip's record");
      if (words[3] != "-") r.seconds = seconds;
      else r.seconds.reset();
      if (clock) r.clock = WallTime{*clock, offset ? std::optional<int>(static_cast<int>(*offset))
                                                   : std::nullopt};
      r.note = static_cast<StripNote>(a);
      r.file = *file;
      state.records.push_back(r);
      state.paths.push_back(*path);
    } else if (kind == "period" && number(0, a)) {
      state.period = a;
    } else if (kind == "pixels" && number(0, a)) {
      pixel_bytes = a;
    } else {
      return damaged("a line it does not know");
    }
  }
  const int64_t strip_bytes = state.strip.bytes();
  if (pixel_bytes < 0 || state.shape.width <= 0 || strip_bytes <= 0 ||
      pixel_bytes != strip_bytes * static_cast<int64_t>(state.records.size()) ||
      static_cast<int64_t>(check_at - at) != pixel_bytes)
    return damaged("its strips' pixels");
  state.pixels.assign(text.begin() + static_cast<ptrdiff_t>(at),
                      text.begin() + static_cast<ptrdiff_t>(check_at));
  for (size_t k = 0; k < state.records.size(); ++k)
    if (state.records[k].strip != static_cast<int64_t>(k)) return damaged("its strips' order");
  return state;
}

}  // namespace

void WatchState::add(const StripRecord& record, const std::string& path, const StripImage& image) {
  records.push_back(record);
  paths.push_back(path);
  const uint8_t* bytes = image.row(0);
  pixels.insert(pixels.end(), bytes, bytes + image.size().bytes());
}

void WatchState::lay(size_t k, StripImage& image) const {
  const int64_t n = strip.bytes();
  std::memcpy(image.plane().pixels, pixels.data() + static_cast<int64_t>(k) * n,
              static_cast<size_t>(n));
}

std::string state_path(const std::string& output) { return output + ".velmora-state"; }

Settings state_settings(const Request& o) {
  Settings settings = {{"INPUT", o.input}, {"OUTPUT", o.output}};
  for (const auto& [name, value] : o.given)
    if (shapes_output(name)) settings.emplace_back("--" + name, value);
  return settings;
}

std::string settings_differ(const Settings& there, const Settings& here) {
  // Each option's values in the order given, "" when not given.
  const auto values = [](const Settings& s) {
    std::map<std::string, std::string> by_name;
    for (const auto& [name, value] : s) {
      std::string& all = by_name[name];
      all += (all.empty() ? "" : ",") + (value.empty() ? std::string("given") : value);
    }
    return by_name;
  };
  const auto a = values(there), b = values(here);
  std::map<std::string, std::pair<std::string, std::string>> both;
  for (const auto& [name, value] : a) both[name].first = value;
  for (const auto& [name, value] : b) both[name].second = value;
  std::string said;
  for (const auto& [name, pair] : both) {
    if (pair.first == pair.second) continue;
    const auto shown = [](const std::string& v) { return v.empty() ? std::string("not given") : v; };
    said += (said.empty() ? "" : "; ") + name + " " + shown(pair.first) + " there, " +
            shown(pair.second) + " here";
  }
  return said;
}

base::Result<std::optional<WatchState>, base::Error> read_state(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 && errno == ENOENT) return std::optional<WatchState>();
  std::ifstream in(path, std::ios::binary);
  if (!in) return base::failed(std::string("cannot be read: ") + std::strerror(errno));
  std::string text{std::istreambuf_iterator<char>(in), {}};
  if (in.bad()) return base::failed("cannot be read");
  auto state = parse(text);
  if (!state) return base::failure(state.error());
  return std::optional<WatchState>(std::move(*state));
}

base::Status write_state(const std::string& path, const WatchState& state) {
  std::string text(magic);
  for (const auto& [name, value] : state.settings)
    text += "set " + escaped(name) + " " + escaped(value) + "\n";
  text += "source " + std::to_string(state.shape.width) + " " +
          std::to_string(state.shape.height) + " " + (state.shape.deep ? "1" : "0") + " " +
          std::to_string(state.orientation) + "\n";
  text += "strip-size " + std::to_string(state.strip.width) + " " +
          std::to_string(state.strip.height) + " " + std::to_string(state.strip.pixel_bytes) + "\n";
  if (state.period) text += "period " + std::to_string(*state.period) + "\n";
  for (size_t k = 0; k < state.records.size(); ++k) {
    const StripRecord& r = state.records[k];
    char seconds[40] = "-";
    if (r.seconds) std::snprintf(seconds, sizeof seconds, "%.17g", *r.seconds);
    const std::optional<int64_t> clock =
        r.clock ? std::optional<int64_t>(r.clock->civil_micros) : std::nullopt;
    const std::optional<int64_t> offset =
        r.clock && r.clock->offset_minutes ? std::optional<int64_t>(*r.clock->offset_minutes)
                                           : std::nullopt;
    text += "strip " + std::to_string(r.strip) + " " + std::to_string(r.position) + " " +
            std::to_string(r.frame) + " " + seconds +
            " " + optional_number(clock) + " " + optional_number(offset) + " " +
            std::to_string(static_cast<int>(r.note)) + " " + escaped(r.file) + " " +
            escaped(state.paths[k]) + "\n";
  }
  text += "pixels " + std::to_string(state.pixels.size()) + "\n";
  text.append(reinterpret_cast<const char*>(state.pixels.data()), state.pixels.size());
  char check[40];
  std::snprintf(check, sizeof check, "check %016" PRIx64 "\n", checksum(text.data(), text.size()));
  text += check;
  TempOutput file(path);
  if (base::Status ok = file.create(); !ok) return ok;
  if (std::fwrite(text.data(), 1, text.size(), file.stream()) != text.size())
    return base::failed(path + ": cannot be written (" + std::strerror(errno) + ")");
  return file.commit(true);
}

}  // namespace scan
