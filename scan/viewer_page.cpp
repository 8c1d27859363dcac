// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/viewer_page.h"

#include <cstdio>
#include <cstdlib>

#include "scan/output/output_file.h"

namespace scan {
namespace {

std::string stem(const std::string& output) { return output.substr(0, output.size() - 4); }

std::string base_name(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// A file name as a relative link: every byte but the unreserved ones percent-encoded, so
// that it is safe in an attribute and in a script's string alike.
std::string link(const std::string& name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string html_text(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// "12.500000" or "-0.040000" as microseconds: the text is exact, the double it came from
// need not be.
int64_t text_micros(const std::string& text) {
  const bool minus = !text.empty() && text.front() == '-';
  const size_t dot = text.find('.');
  const int64_t whole = std::strtoll(text.c_str() + (minus ? 1 : 0), nullptr, 10);
  int64_t micros = whole * 1000000;
  if (dot != std::string::npos) micros += std::strtoll(text.c_str() + dot + 1, nullptr, 10);
  return minus ? -micros : micros;
}

std::string micros_text(int64_t micros) {
  const uint64_t size = micros < 0 ? 0 - static_cast<uint64_t>(micros) : static_cast<uint64_t>(micros);
  char text[48];
  std::snprintf(text, sizeof text, "%s%llu.%06llu", micros < 0 ? "-" : "",
                static_cast<unsigned long long>(size / 1000000),
                static_cast<unsigned long long>(size % 1000000));
  return text;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// The page's own script: the viewer, and what lies under the pointer. strips.js sets
// velmoraStrips: {lines, length, rows, along, origin}; each row [position, strip, frame,
// seconds, clock, since origin] of texts as the timeline has them.
constexpr const char* page_script = R"JS(
(function () {
  var strips = window.velmoraStrips;
  var viewer = OpenSeadragon({
    id: "view",
    tileSources: window.velmoraTiles,
    // Tiles from a folder cannot go through WebGL (file:// images taint it); the canvas
    // draws them from anywhere.
    drawer: "canvas",
    showNavigationControl: false,
    maxZoomPixelRatio: 16,
    visibilityRatio: 0.2
  });
  window.velmoraViewer = viewer;
  var names = ["strip", "frame", "clock", "seconds", "since"];
  function show(values) {
    names.forEach(function (name, i) {
      var text = values ? values[i] : "";
      document.getElementById(name).textContent = text;
      document.getElementById(name + "-field").hidden = text === "" || text === null;
    });
    document.getElementById("under").hidden = !values;
  }
  // The row of the last strip that starts at or before `line`.
  function row(line) {
    var low = 0, high = strips.rows.length - 1;
    if (high < 0 || strips.rows[0][0] > line) return null;
    while (low < high) {
      var middle = (low + high + 1) >> 1;
      if (strips.rows[middle][0] <= line) low = middle; else high = middle - 1;
    }
    return strips.rows[low];
  }
  function at(position) {
    var image = viewer.viewport.viewerElementToImageCoordinates(position);
    var size = viewer.world.getItemAt(0).getContentSize();
    if (!(image.x >= 0 && image.y >= 0 && image.x < size.x && image.y < size.y)) return null;
    var line = Math.floor(strips.along === "y" ? image.y : image.x);
    if (line >= strips.length) return null;
    if (!strips.rows) return [String(Math.floor(line / strips.lines)), "", "", "", ""];
    var found = row(line);
    if (!found) return null;
    return [String(found[1]), found[2] === null ? "none" : String(found[2]), found[4],
            found[3] === "" ? "" : found[3] + " s", found[5] === "" ? "" : found[5] + " s"];
  }
  new OpenSeadragon.MouseTracker({
    element: viewer.element,
    moveHandler: function (event) { show(viewer.world.getItemCount() ? at(event.position) : null); },
    leaveHandler: function () { show(null); }
  });
  show(null);
})();
)JS";

}  // namespace

std::string viewer_page_path(const std::string& output) { return stem(output) + ".html"; }
std::string viewer_folder(const std::string& output) { return stem(output) + "_viewer"; }

std::optional<std::string> since_origin(const StripRecord& record, const TimeOrigin& origin) {
  if (origin.clock) {
    if (!record.clock) return std::nullopt;
    const std::optional<int64_t> strip = record.clock->utc_micros(), start = origin.clock->utc_micros();
    // Either without a zone: both are read as the same zone's.
    if (strip && start) return micros_text(*strip - *start);
    return micros_text(record.clock->civil_micros - origin.clock->civil_micros);
  }
  if (!record.seconds) return std::nullopt;
  return micros_text(text_micros(timeline_seconds(*record.seconds)) - origin.micros);
}

std::string viewer_strips(const std::vector<StripRecord>* records, int64_t strip_lines,
                          int64_t length, bool rows, const TimeOrigin& origin) {
  std::string out = "// velmora-scan: what the page shows of each strip\nvar velmoraStrips = {";
  out += "\"lines\":" + std::to_string(strip_lines) + ",\"length\":" + std::to_string(length) +
         ",\"along\":" + (rows ? "\"y\"" : "\"x\"") +
         ",\"origin\":" + (origin.given ? quoted(origin.clock ? iso_time(*origin.clock) : micros_text(origin.micros)) : "null") +
         ",\"rows\":";
  if (records == nullptr) return out + "null};\n";
  out += "[";
  for (size_t i = 0; i < records->size(); ++i) {
    const StripRecord& r = (*records)[i];
    const std::optional<std::string> since = origin.given ? since_origin(r, origin) : std::nullopt;
    out += std::string(i ? ",\n" : "\n") + "[" + std::to_string(r.position) + "," +
           std::to_string(r.strip) + "," + (r.frame >= 0 ? std::to_string(r.frame) : "null") +
           "," + quoted(r.seconds ? timeline_seconds(*r.seconds) : "") + "," +
           quoted(r.clock ? iso_time(*r.clock) : "") + "," + quoted(since.value_or("")) + "]";
  }
  return out + "\n]};\n";
}

std::string viewer_page(const std::string& output, const ImageSize& size, TileFormat format) {
  const std::string name = base_name(stem(output));
  const std::string scripts = link(base_name(viewer_folder(output))) + "/";
  // The descriptor's own content, given inline: a page opened from a folder cannot fetch it.
  const std::string tiles =
      "var velmoraTiles = {\"Image\":{\"xmlns\":\"http://schemas.microsoft.com/deepzoom/2008\","
      "\"Url\":\"" + link(base_name(dzi_files_folder(output))) + "/\",\"Format\":\"" +
      (format == TileFormat::jpeg ? "jpeg" : "png") + "\",\"Overlap\":\"" +
      std::to_string(dzi_overlap) + "\",\"TileSize\":\"" + std::to_string(dzi_tile_size) +
      "\",\"Size\":{\"Width\":\"" + std::to_string(size.width) + "\",\"Height\":\"" +
      std::to_string(size.height) + "\"}}};";
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>" + html_text(name) + "</title>\n"
         "<style>\n"
         "html, body { margin: 0; height: 100%; background: #202020; color: #f0f0f0;"
         " font: 14px/1.4 sans-serif; }\n"
         "#view { position: absolute; inset: 0; }\n"
         "#under { position: absolute; left: 8px; top: 8px; padding: 4px 8px; z-index: 10;"
         " background: rgba(0, 0, 0, 0.75); pointer-events: none; font-variant-numeric: tabular-nums; }\n"
         "#under span[id$=\"-field\"] { margin-right: 1em; }\n"
         "</style>\n</head>\n<body>\n<div id=\"view\"></div>\n"
         "<div id=\"under\" hidden>"
         "<span id=\"strip-field\">strip <b id=\"strip\"></b></span>"
         "<span id=\"frame-field\">frame <b id=\"frame\"></b></span>"
         "<span id=\"clock-field\"><b id=\"clock\"></b></span>"
         "<span id=\"seconds-field\"><b id=\"seconds\"></b></span>"
         "<span id=\"since-field\">from the origin <b id=\"since\"></b></span>"
         "</div>\n"
         "<script src=\"" + scripts + "openseadragon.min.js\"></script>\n"
         "<script src=\"" + scripts + "strips.js\"></script>\n"
         "<script>\n" + tiles + page_script + "</script>\n</body>\n</html>\n";
}

}  // namespace scan
