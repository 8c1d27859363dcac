// SPDX-License-Identifier: GPL-3.0-or-later
// Turns one command string into what the service should do, or the status that says
// why it cannot be done. Knows the words, not the clips.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/media_errors.h"
#include "service/surfaces.h"

namespace service {

enum class Verb { open, close, put, status, play, pause, stop, update, step, seek };
enum class StatusItem { length, position };

struct Command {
  Verb verb = Verb::close;
  std::string alias;  // lower case: aliases are not case-sensitive

  std::string file_name;          // open: the short name, as sent
  std::optional<int32_t> parent;  // open: window handle of "style child parent H"

  std::optional<Rect> destination;  // put: nothing means the clip's own size at 0, 0
  StatusItem item = StatusItem::length;
  bool reverse = false;  // step
  int64_t frame = 0;     // seek: checked against the clip's length later
  int32_t surface = 0;   // update: "hdc D", D the number of a drawing surface
};

struct Parsed {
  MediaStatus status = MediaStatus::ok;
  Command command;
};

Parsed parse_command(std::string_view text);

// Words between blanks (tabs and line breaks count as blanks); runs of blanks are one gap.
std::vector<std::string_view> split_words(std::string_view text);

// A decimal number: an optional minus sign and digits, nothing else ("+5", "1e9" and "-0"
// are malformed). Values outside min..max, however many digits, are out of range.
MediaStatus parse_number(std::string_view word, int64_t min, int64_t max, int64_t& value);

}  // namespace service
