// SPDX-License-Identifier: GPL-3.0-or-later
// Every status the service can give has a description that reads whole in any reply.
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>

#include "service/media_errors.h"
#include "service/media_service.h"

namespace service {
namespace {

const MediaStatus kFailures[] = {
    MediaStatus::no_such_file,        MediaStatus::not_playable,   MediaStatus::unreadable_file,
    MediaStatus::no_clip_under_alias, MediaStatus::alias_in_use,   MediaStatus::unknown_command,
    MediaStatus::unknown_keyword,     MediaStatus::missing_number, MediaStatus::malformed_number,
    MediaStatus::number_out_of_range, MediaStatus::no_such_window, MediaStatus::no_such_surface,
    MediaStatus::missing_word,        MediaStatus::decode_failed,  MediaStatus::out_of_memory,
};

// Well-formed UTF-8 with no overlong form, surrogate or code point past U+10FFFF.
bool valid_utf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80                ? 1
                    : c >= 0xC2 && c < 0xE0 ? 2
                    : c >= 0xE0 && c < 0xF0 ? 3
                    : c >= 0xF0 && c < 0xF5 ? 4
                                            : 0;
    if (n == 0 || i + n > s.size()) return false;
    char32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n;
  }
  return true;
}

std::string described(MediaService& service, int32_t code, int size = 256) {
  std::array<char, 256> buffer;
  buffer.fill('\x7f');
  service.error_string(code, buffer.data(), size);
  return std::string(buffer.data());
}

TEST(ServiceErrors, EveryFailureHasItsOwnReadableDescription) {
  MediaService service;
  std::set<std::string> seen;
  for (MediaStatus status : kFailures) {
    const auto code = static_cast<int32_t>(status);
    std::array<char, 256> buffer{};
    EXPECT_TRUE(service.error_string(code, buffer.data(), 256)) << code;
    const std::string text(buffer.data());
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_LT(text.size(), 256u) << code;
    EXPECT_EQ(text, describe(status)) << code;  // whole, not cut to fit
    EXPECT_TRUE(valid_utf8(text)) << code;
    EXPECT_TRUE(seen.insert(text).second) << "shared description: " << text;
  }
}

TEST(ServiceErrors, UnknownCodesAreSaidToBeUnknown) {
  MediaService service;
  std::array<char, 256> buffer;
  buffer.fill('x');
  EXPECT_FALSE(service.error_string(-1, buffer.data(), 256));
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_FALSE(service.error_string(99999, buffer.data(), 256));
}

TEST(ServiceErrors, SmallBuffersNeverCutACharacterInHalf) {
  MediaService service;
  for (MediaStatus status : kFailures) {
    const std::string whole(describe(status));
    for (int size = 1; size <= static_cast<int>(whole.size()) + 1; ++size) {
      const std::string part = described(service, static_cast<int32_t>(status), size);
      EXPECT_LT(part.size(), static_cast<std::size_t>(size));
      EXPECT_TRUE(valid_utf8(part)) << static_cast<int>(status) << " size " << size;
      EXPECT_EQ(whole.compare(0, part.size(), part), 0);
      // At most one character (3 bytes in these texts) is dropped to stay whole.
      EXPECT_GE(part.size() + 3, std::min<std::size_t>(whole.size(), size - 1));
    }
  }
}

TEST(ServiceErrors, NothingWrittenWithoutRoom) {
  MediaService service;
  char untouched = 'x';
  service.error_string(static_cast<int32_t>(MediaStatus::no_such_file), &untouched, 0);
  EXPECT_EQ(untouched, 'x');
  EXPECT_EQ(service.send_string("status avfile length", &untouched, 0),
            static_cast<int32_t>(MediaStatus::no_clip_under_alias));
  EXPECT_EQ(untouched, 'x');
  EXPECT_EQ(service.send_string("close avfile", nullptr, 256),
            static_cast<int32_t>(MediaStatus::no_clip_under_alias));
  EXPECT_EQ(service.send_string(nullptr, nullptr, 0),
            static_cast<int32_t>(MediaStatus::unknown_command));
}

}  // namespace
}  // namespace service
