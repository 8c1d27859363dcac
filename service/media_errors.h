// SPDX-License-Identifier: GPL-3.0-or-later
// Status codes of the media service and their descriptions.
#pragma once
#include <cstdint>
#include <string_view>

namespace service {

// 0 is success; every other value has its own description.
enum class MediaStatus : int32_t {
  ok = 0,
  no_such_file = 275,
  not_playable = 276,
  unreadable_file = 277,
  no_clip_under_alias = 263,
  alias_in_use = 289,
  unknown_command = 261,
  unknown_keyword = 262,
  missing_number = 278,
  malformed_number = 279,
  number_out_of_range = 280,
  no_such_window = 281,
  no_such_surface = 282,
  missing_word = 283,
  decode_failed = 284,
  out_of_memory = 285,
};

// The Japanese description of a status, or empty for a code the service never returns.
std::string_view describe(MediaStatus status);
std::string_view describe(int32_t code);

// Copies `text` into `buffer` of `size` bytes, NUL-ended, cutting only between whole
// UTF-8 characters. Does nothing when `size` is not positive.
void copy_to_buffer(std::string_view text, char* buffer, int size);

}  // namespace service
