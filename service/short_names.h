// SPDX-License-Identifier: GPL-3.0-or-later
// Blank-free names for files, so that a path can stand unquoted in a command string.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace service {

// A form of `path` with no blank, control character or other white space (those bytes,
// and '%', are written as %XX; other characters stay as they are); empty when no such
// file exists.
std::string short_name(std::string_view path);

// Turns a short name back into the path; nothing for a malformed escape.
std::optional<std::string> long_name(std::string_view name);

}  // namespace service
