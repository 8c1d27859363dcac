// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/short_names.h"

#include <sys/stat.h>

#include <algorithm>

namespace service {
namespace {

// Code points that count as white space besides the ASCII ones.
bool is_unicode_space(char32_t c) {
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000 ||
         c == 0xFEFF;
}

// Length of the UTF-8 sequence at `s`, and its code point; 0 when it is not well formed.
std::size_t decode_utf8(std::string_view s, char32_t& c) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = b(0);
  std::size_t n = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (n == 0 || lead >= 0xF5 || s.size() < n) return 0;
  c = lead & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b(i) & 0x3F);
  }
  return n;
}

// Printable ASCII other than the blank and the escape character itself.
bool is_plain_ascii(unsigned char c) { return c > 0x20 && c < 0x7F && c != '%'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string short_name(std::string_view path) {
  std::string p(path);
  struct stat st {};
  if (p.empty() || p.find('\0') != std::string::npos || ::stat(p.c_str(), &st) != 0) return {};
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  const auto escape = [&](unsigned char c) {
    out += '%';
    out += digits[c >> 4];
    out += digits[c & 15];
  };
  out.reserve(p.size());
  std::string_view rest(p);
  while (!rest.empty()) {
    const auto c = static_cast<unsigned char>(rest[0]);
    char32_t code = 0;
    std::size_t n = c < 0x80 ? 1 : decode_utf8(rest, code);
    if (c < 0x80 ? is_plain_ascii(c) : (n > 0 && !is_unicode_space(code))) {
      out.append(rest.substr(0, n));  // kept whole: no blank can hide in it
    } else {
      n = std::max<std::size_t>(n, 1);
      for (std::size_t i = 0; i < n; ++i) escape(static_cast<unsigned char>(rest[i]));
    }
    rest.remove_prefix(n);
  }
  return out;
}

std::optional<std::string> long_name(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '%') {
      out += name[i];
      continue;
    }
    if (i + 2 >= name.size()) return std::nullopt;
    int hi = hex_value(name[i + 1]), lo = hex_value(name[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  if (out.find('\0') != std::string::npos) return std::nullopt;
  return out;
}

}  // namespace service
