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
// pixel_bytes 3: 8-bit components; 6: 16-bit big-endian. A mean, and the median of an even
// count (the mean of the two middle values), are rounded half up.
void reduce_lines(const uint8_t* pixels, int64_t count, int64_t samples, int pixel_bytes,
                  Reducer reducer, uint8_t* out);

}  // namespace scan
