// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/output/fast_deflate.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <memory>

namespace scan {

std::optional<size_t> deflate_piece(const uint8_t* in, size_t n, const uint8_t* dictionary,
                                    size_t dictionary_bytes, bool last, uint8_t* out) {
  isal_zstream s;
  isal_deflate_init(&s);
  // Kept by the thread: a fresh megabyte a call, mapped and faulted in anew, cost small
  // pieces (a Deep Zoom tile) more than their deflate. ISA-L sets up what it reads.
  thread_local std::unique_ptr<uint8_t[]> level_buffer(new uint8_t[ISAL_DEF_LVL1_DEFAULT]);
  s.level = 1;
  s.level_buf = level_buffer.get();
  s.level_buf_size = ISAL_DEF_LVL1_DEFAULT;
  s.gzip_flag = IGZIP_DEFLATE;
  if (dictionary_bytes > 0 &&
      isal_deflate_set_dict(&s, const_cast<uint8_t*>(dictionary),
                            static_cast<uint32_t>(dictionary_bytes)) != COMP_OK)
    return std::nullopt;
  const size_t capacity = deflate_bound(n);
  s.next_out = out;
  size_t done = 0;
  // ISA-L counts in 32 bits; a piece of one very long row may hold more.
  for (;;) {
    const size_t piece = std::min<size_t>(n - done, size_t{1} << 30);
    const bool end = done + piece == n;
    s.next_in = const_cast<uint8_t*>(in) + done;
    s.avail_in = static_cast<uint32_t>(piece);
    s.avail_out = static_cast<uint32_t>(
        std::min<size_t>(capacity - static_cast<size_t>(s.next_out - out), UINT32_MAX));
    s.end_of_stream = end && last;
    s.flush = end && !last ? SYNC_FLUSH : NO_FLUSH;
    if (isal_deflate(&s) != COMP_OK) return std::nullopt;
    done += piece - s.avail_in;
    if (end || s.avail_in != 0) break;
  }
  const bool complete =
      done == n && s.avail_out > 0 && (!last || s.internal_state.state == ZSTATE_END);
  if (!complete) return std::nullopt;
  return static_cast<size_t>(s.next_out - out);
}

uint32_t adler32_of(uint32_t adler, const uint8_t* bytes, size_t n) {
  return isal_adler32(adler, bytes, n);
}

uint32_t crc32_of(uint32_t crc, const uint8_t* bytes, size_t n) {
  return crc32_gzip_refl(crc, bytes, n);
}

}  // namespace scan
