// SPDX-License-Identifier: GPL-3.0-or-later
#include "strips/exact_strips.h"

#include <cstring>

namespace strips {
namespace {

// A lambda's type, unlike a function's address, lets the compiler copy each run inline.
const auto move_run = [](const uint8_t* source, const Run& run, uint8_t* target) {
  if (source == nullptr) {
    std::memset(target, 0, static_cast<size_t>(run.count));
    return;
  }
  std::memset(target, 0, static_cast<size_t>(run.lead));
  std::memcpy(target + run.lead, source + run.lead, static_cast<size_t>(run.inside));
  const int64_t rest = run.count - run.lead - run.inside;
  std::memset(target + run.lead + run.inside, 0, static_cast<size_t>(rest));
};

}  // namespace

// A strip "reaches the edge" when its last line lands on the image's last line.
bool place_strip(const ConstBytePlane& source, const BytePlane& image, const ExactStrip& strip,
                 int64_t index) {
  if (strip.width <= 0 || strip.pixel_bytes <= 0) return false;
  if (strip.cut == Cut::vertical) {
    // Columns counted in bytes: a strip of W pixels is W * pixel_bytes bytes of every row.
    const int64_t bytes = strip.width * strip.pixel_bytes;
    return copy_lines(source, image, Cut::vertical, strip.first * strip.pixel_bytes, bytes, bytes,
                      index, image.width - 1, move_run);
  }
  return copy_lines(source, image, Cut::horizontal, strip.first, strip.width, strip.width, index,
                    image.height - 1, move_run);
}

}  // namespace strips
