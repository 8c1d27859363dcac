// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/reply_number.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace media {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Length of the longest prefix of `text` that reads as a decimal number.
size_t number_length(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const size_t digits_from = i;
  while (i < text.size() && is_digit(text[i])) ++i;
  size_t digits = i - digits_from;
  if (i < text.size() && text[i] == '.') {
    const size_t fraction_from = ++i;
    while (i < text.size() && is_digit(text[i])) ++i;
    digits += i - fraction_from;
  }
  if (digits == 0) return 0;
  // An exponent counts only when digits follow it.
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && is_digit(text[j])) {
      while (j < text.size() && is_digit(text[j])) ++j;
      i = j;
    }
  }
  return i;
}

}  // namespace

double reply_value(std::string_view reply) {
  size_t start = 0;
  while (start < reply.size() && (reply[start] == ' ' || reply[start] == '\t')) ++start;
  const std::string number(reply.substr(start, number_length(reply.substr(start))));
  if (number.empty()) return 0;
  const double value = std::strtod(number.c_str(), nullptr);
  return std::isnan(value) ? 0 : value;
}

int32_t nearest_int32(double value) {
  constexpr double low = std::numeric_limits<int32_t>::min();
  constexpr double high = std::numeric_limits<int32_t>::max();
  if (std::isnan(value)) return 0;
  const double rounded = std::nearbyint(value);  // the default mode rounds halves to even
  if (rounded <= low) return std::numeric_limits<int32_t>::min();
  if (rounded >= high) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(rounded);
}

}  // namespace media
