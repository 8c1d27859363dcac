// SPDX-License-Identifier: GPL-3.0-or-later
// The lines of a thick slit made one, component by component.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace scan {

enum class Reducer { copy, mean, max, min, median };

std::optional<Reducer> reducer_named(std::string_view name);

// `count` lines of `samples` pixels each, line j at lines + j * samples * pixel_bytes, into
// one line at `out`. pixel_bytes 3: 8-bit components; 6: 16-bit big-endian. A mean, and
// the median of an even count (the mean of the two middle values), are rounded half up.
void reduce_lines(const uint8_t* lines, int64_t count, int64_t samples, int pixel_bytes,
                  Reducer reducer, uint8_t* out);

}  // namespace scan
