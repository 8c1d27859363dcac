// SPDX-License-Identifier: GPL-3.0-or-later
// --viewer's page: NAME.html beside NAME.dzi, which shows the tiles in OpenSeadragon and,
// under the pointer, the strip there with its frame and times. Everything it loads lies in
// NAME_files/ and NAME_viewer/ and is loaded by tags, not fetched, so that the page works
// opened from a folder (file://) as well as from any web server.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scan/options.h"
#include "scan/output/deep_zoom.h"
#include "scan/time/timeline.h"

namespace scan {

// NAME.html and NAME_viewer for OUTPUT NAME.dzi.
std::string viewer_page_path(const std::string& output);
std::string viewer_folder(const std::string& output);

// The page for OUTPUT (its name only enters the page, as links relative to it).
std::string viewer_page(const std::string& output, const ImageSize& size, TileFormat format);

// NAME_viewer/strips.js: what the page shows of each strip. `records` null: no timeline is
// written, and the page shows only the strip number (a strip being `strip_lines` lines).
// Its texts are the timeline's own, so that the page and the timeline agree to the digit.
std::string viewer_strips(const std::vector<StripRecord>* records, int64_t strip_lines,
                          int64_t length, bool rows, const TimeOrigin& origin);

// Seconds from `origin` to the strip's time, six decimals, a minus sign before the origin;
// nothing for a strip without the time the origin is reckoned on.
std::optional<std::string> since_origin(const StripRecord& record, const TimeOrigin& origin);

// OpenSeadragon's script, embedded at build time.
std::string_view openseadragon_script();

}  // namespace scan
