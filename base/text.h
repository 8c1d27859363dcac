// SPDX-License-Identifier: GPL-3.0-or-later
// Small checks on typed text (names, numbers) that several rooms make the same way.
#pragma once
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace base {

// Whether `text` ends in `ending`, ASCII letters matched whatever their case (file names
// ending ".PNG" or ".Jpg" are meant as much as lower-case ones).
inline bool ends_with_ignoring_case(std::string_view text, std::string_view ending) {
  if (text.size() < ending.size()) return false;
  text.remove_prefix(text.size() - ending.size());
  for (size_t i = 0; i < ending.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(ending[i])))
      return false;
  return true;
}

// A plain decimal such as 12 or 12.5 (no sign, exponent or blanks) and its value; nothing
// for any other text or one too large for a double.
inline std::optional<double> plain_decimal(std::string_view text) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos ||
      text.find('.') != text.rfind('.') || text == ".")
    return std::nullopt;
  const double value = std::strtod(std::string(text).c_str(), nullptr);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

// The number written by the `count` characters of `text` from `at`, when all are digits
// (fields of a fixed width in dates and times); false when one is not or the text ends.
inline bool fixed_digits(std::string_view text, size_t at, size_t count, int& value) {
  if (at > text.size() || count > text.size() - at) return false;
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// The digits of `text` from `at` on read as a decimal fraction ("25" is 0.25), in
// millionths; `at` moves past them all, those past the sixth counting for nothing.
inline int64_t fraction_micros(std::string_view text, size_t& at) {
  int64_t micros = 0, scale = 100000;
  for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
    micros += (text[at] - '0') * scale;
    scale /= 10;
  }
  return micros;
}

// `bytes` as people read a size: "1.5 GB", "12.0 MB", "3.2 kB", "512 bytes".
inline std::string human_bytes(double bytes) {
  char text[32];
  if (bytes >= 1e9)
    std::snprintf(text, sizeof text, "%.1f GB", bytes / 1e9);
  else if (bytes >= 1e6)
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
  else if (bytes >= 1e3)
    std::snprintf(text, sizeof text, "%.1f kB", bytes / 1e3);
  else
    std::snprintf(text, sizeof text, "%.0f bytes", bytes);
  return text;
}

}  // namespace base
