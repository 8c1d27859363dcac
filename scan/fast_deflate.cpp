// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/fast_deflate.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <memory>

namespace scan {

bool deflate_piece(const std::vector<uint8_t>& in, const std::vector<uint8_t>& dictionary,
                   bool last, std::vector<uint8_t>& out) {
  isal_zstream s;
  isal_deflate_init(&s);
  std::unique_ptr<uint8_t[]> level_buffer(new uint8_t[ISAL_DEF_LVL1_DEFAULT]);
  s.level = 1;
  s.level_buf = level_buffer.get();
  s.level_buf_size = ISAL_DEF_LVL1_DEFAULT;
  s.gzip_flag = IGZIP_DEFLATE;
  if (!dictionary.empty() &&
      isal_deflate_set_dict(&s, const_cast<uint8_t*>(dictionary.data()),
                            static_cast<uint32_t>(dictionary.size())) != COMP_OK)
    return false;
  const size_t start = out.size();
  // Incompressible data grows by a stored block's header every 64 KiB, plus the flush.
  out.resize(start + in.size() + in.size() / 4096 + 1024);
  s.next_out = out.data() + start;
  size_t done = 0;
  // ISA-L counts in 32 bits; a piece of one very long row may hold more.
  for (;;) {
    const size_t piece = std::min<size_t>(in.size() - done, size_t{1} << 30);
    const bool end = done + piece == in.size();
    s.next_in = const_cast<uint8_t*>(in.data()) + done;
    s.avail_in = static_cast<uint32_t>(piece);
    s.avail_out = static_cast<uint32_t>(
        std::min<size_t>(out.size() - static_cast<size_t>(s.next_out - out.data()), UINT32_MAX));
    s.end_of_stream = end && last;
    s.flush = end && !last ? SYNC_FLUSH : NO_FLUSH;
    if (isal_deflate(&s) != COMP_OK) return false;
    done += piece - s.avail_in;
    if (end || s.avail_in != 0) break;
  }
  const bool complete = done == in.size() && s.avail_out > 0 &&
                        (!last || s.internal_state.state == ZSTATE_END);
  out.resize(static_cast<size_t>(s.next_out - out.data()));
  return complete;
}

}  // namespace scan
