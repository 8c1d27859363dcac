// SPDX-License-Identifier: GPL-3.0-or-later
// Small checks on typed text (names, numbers) that several rooms make the same way.
#pragma once
#include <cctype>
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

}  // namespace base
