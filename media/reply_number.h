// SPDX-License-Identifier: GPL-3.0-or-later
// Numbers read out of the service's reply texts.
#pragma once
#include <cstdint>
#include <string_view>

namespace media {

// Leading blanks skipped, then a number read up to the first character that cannot belong
// to it; 0 when there is none. An error description thus reads as 0.
double reply_value(std::string_view reply);

// The nearest whole number (halves to even), held to the 32-bit range.
int32_t nearest_int32(double value);

}  // namespace media
