// SPDX-License-Identifier: GPL-3.0-or-later
// The lines of a thick slit made one, component by component.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace scan {

enum class Reducer { copy, mean, max, min, median };

std::optional<Reducer> reducer_named(std::string_view name);

// `samples` groups of `count` pixels (a sample of each line), group i at
// pixels + i * count * pixel_bytes, made one pixel each at out + i * pixel_bytes.
// pixel_bytes as strips/pixel_kind.h names them: 3 and 1 8-bit components, 6 and 2 16-bit
// big-endian, 4 a float. A mean, and the median of an even count (the mean of the two
// middle values), are rounded half up; of floats they are taken in double and stored as
// the nearest float, not rounded to whole values.
void reduce_lines(const uint8_t* pixels, int64_t count, int64_t samples, int pixel_bytes,
                  Reducer reducer, uint8_t* out);

}  // namespace scan
