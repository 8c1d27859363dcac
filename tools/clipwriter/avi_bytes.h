// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and patching AVI files byte by byte, to make broken clips.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace clipwriter {

using Bytes = std::vector<uint8_t>;

Bytes read_bytes(const std::string& path);
// False when the file cannot be written whole.
bool write_bytes(const std::string& path, const Bytes& bytes);

// Offset of the first `tag` (four characters) at or after `from`, or -1.
long find_tag(const Bytes& bytes, const char* tag, long from = 0);
uint32_t get_le32(const Bytes& bytes, long at);
void put_le32(Bytes& bytes, long at, uint32_t value);

// Offsets of the video chunks ("00dc"/"00db") inside the movi list, each the chunk header's.
std::vector<long> video_chunks(const Bytes& bytes);

}  // namespace clipwriter
