// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/output/png_output.h"

#include <fcntl.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "scan/output/fast_deflate.h"
#include "scan/output/png_frame.h"

namespace scan {
namespace {

// Deflate's window: a chunk can refer this far back into the chunk before it.
constexpr size_t window_bytes = 32768;
// PNG's limit for a chunk's data.
constexpr size_t max_chunk_data = 0x7fffffff;

// Bytes that are not cleared when sized: every byte is written before it is read, and
// clearing (and faulting in) a chunk's megabytes showed as a quarter of the writing time.
// Kept with their chunk and used again, so a run asks the system for them once.
class Bytes {
 public:
  uint8_t* resize(size_t n) {
    if (n > capacity_) {
      bytes_.reset(new uint8_t[n]);
      capacity_ = n;
    }
    size_ = n;
    return bytes_.get();
  }
  uint8_t* data() { return bytes_.get(); }
  const uint8_t* data() const { return bytes_.get(); }
  size_t size() const { return size_; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  size_t capacity_ = 0, size_ = 0;
};

struct Chunk {
  int64_t index = 0;
  bool last = false;
  // The chunk's rows, `stride` bytes apart from `first`, after `before` rows that only
  // prime the dictionary; in `raw` when copied from the caller.
  const uint8_t* first = nullptr;
  int64_t rows = 0, before = 0, stride = 0;
  bool copied = false;
  Bytes raw;
  // Made by a worker: the filtered rows; "IDAT" and the deflated bytes, their CRC, the
  // rows' Adler-32.
  Bytes filtered, dictionary, idat;
  uint32_t crc = 0;
  uint32_t adler = 1;
  std::string error;
  bool done = false;
};

void deflate_chunk(Chunk& c, int64_t pixel_bytes, int64_t row_bytes) {
  uint8_t* filtered = c.filtered.resize(static_cast<size_t>(c.rows * row_bytes));
  png_sub_filter_rows(c.first, c.rows, c.stride, pixel_bytes, row_bytes, filtered);
  // The dictionary: the last window of the rows before, filtered as they were.
  const int64_t primed = std::min<int64_t>(
      c.before, (static_cast<int64_t>(window_bytes) + row_bytes - 1) / row_bytes);
  uint8_t* before = c.dictionary.resize(static_cast<size_t>(primed * row_bytes));
  png_sub_filter_rows(c.first - primed * c.stride, primed, c.stride, pixel_bytes, row_bytes,
                      before);
  const size_t dictionary_bytes = std::min(window_bytes, c.dictionary.size());
  // Raw deflate: the zlib header and the Adler-32 are written around the joined pieces.
  const size_t filtered_bytes = c.filtered.size();
  uint8_t* idat = c.idat.resize(4 + 2 + deflate_bound(filtered_bytes) + 4);
  std::memcpy(idat, "IDAT", 4);
  size_t head = 4;
  if (c.index == 0) {
    idat[head++] = 0x78;  // deflate, 32 KiB window
    idat[head++] = 0x01;  // fastest, no dictionary; 0x7801 is a multiple of 31
  }
  const std::optional<size_t> deflated =
      deflate_piece(filtered, filtered_bytes,
                    before + c.dictionary.size() - dictionary_bytes, dictionary_bytes, c.last,
                    idat + head);
  if (!deflated) {
    c.error = "cannot deflate the image";
    return;
  }
  c.idat.resize(head + *deflated);
  c.adler = adler32_of(1, filtered, filtered_bytes);
  c.crc = crc32_of(0, idat, c.idat.size());
}

}  // namespace

class PngWriter::Impl {
 public:
  Impl(std::FILE* file, const ImageSize& size, int threads, int64_t chunk_bytes,
       base::ShouldStop stop)
      : file_(file), size_(size), row_bytes_(1 + size.width * size.pixel_bytes),
        stop_(std::move(stop)) {
    rows_per_chunk_ = std::clamp<int64_t>(
        (std::max<int64_t>(chunk_bytes, 1) + row_bytes_ - 1) / row_bytes_, 1,
        std::max<int64_t>(size.height, 1));
    window_rows_ = (static_cast<int64_t>(window_bytes) + row_bytes_ - 1) / row_bytes_;
    threads = std::clamp(threads, 1, 64);
    max_in_flight_ = 2 * static_cast<size_t>(threads);
    for (int t = 0; t < threads; ++t) workers_.emplace_back([this] { work(); });
  }

  ~Impl() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    work_ready_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

  base::Status begin() {
    const std::array<uint8_t, 33> header =
        png_signature_and_header(size_.width, size_.height, size_.pixel_bytes);
    return put(header.data(), header.size());
  }

  base::Status add_rows(const uint8_t* rows, int64_t count, int64_t stride) {
    if (rows_added_ + count > size_.height) return base::failed("too many rows");
    const size_t packed = static_cast<size_t>(row_bytes_ - 1);
    for (int64_t r = 0; r < count; ++r) {
      if (!filling_) start_copied_chunk();
      Chunk& c = *filling_;
      std::memcpy(c.raw.data() + static_cast<size_t>(c.before + c.rows) * packed,
                  rows + r * stride, packed);
      ++c.rows;
      ++rows_added_;
      if (rows_added_ == size_.height || c.rows == rows_per_chunk_) {
        if (base::Status sent = submit(); !sent) return sent;
      }
    }
    return {};
  }

  base::Status add_held_rows(const uint8_t* rows, int64_t count, int64_t stride) {
    if (rows_added_ + count > size_.height) return base::failed("too many rows");
    for (int64_t r = 0; r < count;) {
      filling_ = spare_chunk();
      Chunk& c = *filling_;
      c.rows = std::min(rows_per_chunk_, count - r);
      c.before = std::min(r, window_rows_);
      c.stride = stride;
      c.first = rows + r * stride;
      r += c.rows;
      rows_added_ += c.rows;
      if (base::Status sent = submit(); !sent) return sent;
    }
    return {};
  }

  base::Status finish() {
    if (rows_added_ != size_.height)
      return base::failed("only " + std::to_string(rows_added_) + " of the image's " +
                          std::to_string(size_.height) + " rows came");
    while (!in_order_.empty())
      if (base::Status ok = write_oldest(); !ok) return ok;
    static const uint8_t iend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
    return put(iend, sizeof iend);
  }

 private:
  std::shared_ptr<Chunk> spare_chunk() {
    std::shared_ptr<Chunk> c;
    if (spare_.empty()) {
      c = std::make_shared<Chunk>();
    } else {
      c = std::move(spare_.back());
      spare_.pop_back();
      c->error.clear();
      c->done = false;
      c->rows = c->before = 0;
      c->copied = false;
    }
    c->index = next_index_++;
    return c;
  }

  // A chunk for rows the caller may reuse: they are copied, after the rows before them
  // that prime its dictionary.
  void start_copied_chunk() {
    filling_ = spare_chunk();
    Chunk& c = *filling_;
    const size_t packed = static_cast<size_t>(row_bytes_ - 1);
    c.before = static_cast<int64_t>(tail_.size() / std::max<size_t>(packed, 1));
    c.stride = static_cast<int64_t>(packed);
    c.copied = true;
    c.raw.resize(static_cast<size_t>(c.before + rows_per_chunk_) * packed);
    if (!tail_.empty()) std::memcpy(c.raw.data(), tail_.data(), tail_.size());
    c.first = c.raw.data() + static_cast<size_t>(c.before) * packed;
  }

  // Hands the filled chunk to the workers, then writes what is done in order, waiting
  // while too much is in flight.
  base::Status submit() {
    if (base::asked_to_stop(stop_)) return base::failed("interrupted");
    std::shared_ptr<Chunk> chunk = std::move(filling_);
    chunk->last = rows_added_ == size_.height;
    if (chunk->copied) {
      // The next copied chunk's dictionary rows: the last window's worth so far.
      const int64_t keep = std::min(window_rows_, chunk->before + chunk->rows);
      const size_t packed = static_cast<size_t>(row_bytes_ - 1);
      const uint8_t* from = chunk->first + (chunk->rows - keep) * chunk->stride;
      tail_.assign(from, from + static_cast<size_t>(keep) * packed);
    }
    {
      std::lock_guard lock(mutex_);
      pending_.push_back(chunk);
    }
    work_ready_.notify_one();
    in_order_.push_back(std::move(chunk));
    while (!in_order_.empty() && (in_order_.size() > max_in_flight_ || is_done(*in_order_.front())))
      if (base::Status ok = write_oldest(); !ok) return ok;
    return {};
  }

  bool is_done(const Chunk& c) {
    std::lock_guard lock(mutex_);
    return c.done;
  }

  base::Status write_oldest() {
    std::shared_ptr<Chunk> c = in_order_.front();
    in_order_.pop_front();
    {
      std::unique_lock lock(mutex_);
      chunk_done_.wait(lock, [&] { return c->done; });
    }
    if (base::asked_to_stop(stop_)) return base::failed("interrupted");
    if (!c->error.empty()) return base::failed(c->error);
    const auto length = static_cast<z_off_t>(c->filtered.size());
    adler_ = c->index == 0 ? c->adler
                           : static_cast<uint32_t>(adler32_combine(adler_, c->adler, length));
    if (c->last) {
      const size_t at = c->idat.size();
      uint8_t* trailer = c->idat.resize(at + 4) + at;  // room was left for it
      put_be32(trailer, adler_);
      c->crc = crc32_of(c->crc, trailer, 4);
    }
    base::Status written = put_idat(*c);
    spare_.push_back(std::move(c));
    if (!written) return written;
    // The disk starts on what is written while the rest is deflated, so that the sync
    // before the rename has little left to wait for (a hint: its failure changes nothing).
    errno = 0;
    if (std::fflush(file_) != 0) return write_error();
    sync_file_range(fileno(file_), 0, 0, SYNC_FILE_RANGE_WRITE);
    return {};
  }

  // One IDAT, or several when the deflated bytes pass PNG's limit for a chunk.
  base::Status put_idat(const Chunk& c) {
    const size_t data = c.idat.size() - 4;
    if (data <= max_chunk_data) return put_chunk(c.idat.data(), data, c.crc);
    for (size_t at = 0; at < data; at += max_chunk_data) {
      const size_t piece = std::min(max_chunk_data, data - at);
      std::vector<uint8_t> part(4 + piece);
      std::memcpy(part.data(), "IDAT", 4);
      std::memcpy(part.data() + 4, c.idat.data() + 4 + at, piece);
      const uint32_t crc = crc32_of(0, part.data(), part.size());
      if (base::Status ok = put_chunk(part.data(), piece, crc); !ok) return ok;
    }
    return {};
  }

  // `typed`: the chunk's type and its `length` bytes of data.
  base::Status put_chunk(const uint8_t* typed, size_t length, uint32_t crc) {
    uint8_t word[4];
    put_be32(word, static_cast<uint32_t>(length));
    if (base::Status ok = put(word, 4); !ok) return ok;
    if (base::Status ok = put(typed, 4 + length); !ok) return ok;
    put_be32(word, crc);
    return put(word, 4);
  }

  base::Status put(const void* bytes, size_t n) {
    errno = 0;
    if (std::fwrite(bytes, 1, n, file_) != n) return write_error();
    return {};
  }

  static base::Status write_error() {
    return base::failed("cannot write (" + std::string(std::strerror(errno != 0 ? errno : EIO)) +
                        ")");
  }

  void work() {
    for (;;) {
      std::shared_ptr<Chunk> c;
      {
        std::unique_lock lock(mutex_);
        work_ready_.wait(lock, [&] { return stopping_ || !pending_.empty(); });
        if (stopping_) return;
        c = std::move(pending_.front());
        pending_.pop_front();
      }
      deflate_chunk(*c, size_.pixel_bytes, row_bytes_);
      {
        std::lock_guard lock(mutex_);
        c->done = true;
      }
      chunk_done_.notify_all();
    }
  }

  std::FILE* file_;
  ImageSize size_;
  int64_t row_bytes_;  // with the filter byte
  base::ShouldStop stop_;
  int64_t rows_per_chunk_ = 1;
  int64_t window_rows_ = 1;  // rows whose filtered bytes fill deflate's window
  size_t max_in_flight_ = 2;
  int64_t rows_added_ = 0;
  int64_t next_index_ = 0;
  uint32_t adler_ = 1;
  std::vector<uint8_t> tail_;  // the last rows copied, for the next copied chunk
  std::shared_ptr<Chunk> filling_;
  std::deque<std::shared_ptr<Chunk>> in_order_;  // handed over, not yet written
  std::vector<std::shared_ptr<Chunk>> spare_;    // written, their buffers kept for reuse

  std::mutex mutex_;
  std::condition_variable work_ready_, chunk_done_;
  std::deque<std::shared_ptr<Chunk>> pending_;  // for the workers
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

PngWriter::PngWriter(std::FILE* file, const ImageSize& size, int threads, int64_t chunk_bytes,
                     base::ShouldStop stop)
    : impl_(std::make_unique<Impl>(file, size, threads, chunk_bytes, std::move(stop))) {}
PngWriter::~PngWriter() = default;
base::Status PngWriter::begin() { return impl_->begin(); }
base::Status PngWriter::add_rows(const uint8_t* rows, int64_t count, int64_t stride) {
  return impl_->add_rows(rows, count, stride);
}
base::Status PngWriter::add_held_rows(const uint8_t* rows, int64_t count, int64_t stride) {
  return impl_->add_held_rows(rows, count, stride);
}
base::Status PngWriter::finish() { return impl_->finish(); }

base::Status write_png(std::FILE* file, const StripImage& image, int threads,
                     int64_t chunk_bytes, const base::ShouldStop& stop) {
  PngWriter writer(file, image.size(), threads, chunk_bytes, stop);
  if (base::Status ok = writer.begin(); !ok) return ok;
  if (base::Status ok = writer.add_held_rows(image.row(0), image.size().height, image.stride());
      !ok)
    return ok;
  return writer.finish();
}

}  // namespace scan
