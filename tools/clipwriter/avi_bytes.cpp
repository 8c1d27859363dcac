// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/clipwriter/avi_bytes.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace clipwriter {

Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

long find_tag(const Bytes& bytes, const char* tag, long from) {
  for (long i = from; i + 4 <= static_cast<long>(bytes.size()); ++i)
    if (std::memcmp(bytes.data() + i, tag, 4) == 0) return i;
  return -1;
}

uint32_t get_le32(const Bytes& b, long at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

void put_le32(Bytes& b, long at, uint32_t value) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<long> video_chunks(const Bytes& bytes) {
  std::vector<long> chunks;
  long movi = find_tag(bytes, "movi");
  if (movi < 0) return chunks;
  long end = movi - 4 + 4 + static_cast<long>(get_le32(bytes, movi - 4));
  for (long at = movi + 4; at + 8 <= end && at + 8 <= static_cast<long>(bytes.size());) {
    uint32_t size = get_le32(bytes, at + 4);
    if (std::memcmp(bytes.data() + at, "00d", 3) == 0) chunks.push_back(at);
    if (std::memcmp(bytes.data() + at, "LIST", 4) == 0) size = 4;  // step into sub-lists
    at += 8 + size + (size & 1);
  }
  return chunks;
}

}  // namespace clipwriter
