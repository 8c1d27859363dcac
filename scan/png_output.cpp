// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/png_output.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "scan/fast_deflate.h"
#include "scan/interrupt.h"

namespace scan {
namespace {

// Deflate's window: a chunk can refer this far back into the chunk before it.
constexpr size_t window_bytes = 32768;
// PNG's limit for a chunk's data.
constexpr size_t max_chunk_data = 0x7fffffff;
constexpr uint8_t sub_filter = 1;

struct Chunk {
  int64_t index = 0;
  bool last = false;
  std::vector<uint8_t> filtered;    // whole rows, each with its filter byte
  std::vector<uint8_t> dictionary;  // the filtered bytes just before, up to a window
  // Made by a worker: "IDAT" and the deflated bytes, their CRC, the rows' Adler-32.
  std::vector<uint8_t> idat;
  uint32_t crc = 0;
  uint32_t adler = 1;
  size_t length = 0;  // of `filtered`, which the worker frees
  std::string error;
  bool done = false;
};

void put_be32(uint8_t* to, uint32_t value) {
  to[0] = static_cast<uint8_t>(value >> 24);
  to[1] = static_cast<uint8_t>(value >> 16);
  to[2] = static_cast<uint8_t>(value >> 8);
  to[3] = static_cast<uint8_t>(value);
}

void deflate_chunk(Chunk& c) {
  // Raw deflate: the zlib header and the Adler-32 are written around the joined pieces.
  c.idat.assign({'I', 'D', 'A', 'T'});
  if (c.index == 0) {
    c.idat.push_back(0x78);  // deflate, 32 KiB window
    c.idat.push_back(0x01);  // fastest, no dictionary; 0x7801 is a multiple of 31
  }
  if (!deflate_piece(c.filtered, c.dictionary, c.last, c.idat)) {
    c.error = "cannot deflate the image";
    return;
  }
  c.length = c.filtered.size();
  c.adler = static_cast<uint32_t>(adler32_z(1, c.filtered.data(), c.filtered.size()));
  c.crc = static_cast<uint32_t>(crc32_z(0, c.idat.data(), c.idat.size()));
  std::vector<uint8_t>().swap(c.filtered);
}

}  // namespace

class PngWriter::Impl {
 public:
  Impl(std::FILE* file, const ImageSize& size, int threads, int64_t chunk_bytes)
      : file_(file), size_(size), row_bytes_(1 + size.width * size.pixel_bytes) {
    rows_per_chunk_ = std::clamp<int64_t>(
        (std::max<int64_t>(chunk_bytes, 1) + row_bytes_ - 1) / row_bytes_, 1,
        std::max<int64_t>(size.height, 1));
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

  PngWritten begin() {
    uint8_t header[8 + 25] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    uint8_t* ihdr = header + 8;
    put_be32(ihdr, 13);
    std::memcpy(ihdr + 4, "IHDR", 4);
    put_be32(ihdr + 8, static_cast<uint32_t>(size_.width));
    put_be32(ihdr + 12, static_cast<uint32_t>(size_.height));
    ihdr[16] = size_.pixel_bytes == 6 ? 16 : 8;
    ihdr[17] = 2;  // RGB; compression, filter method and interlace stay 0
    put_be32(ihdr + 21, static_cast<uint32_t>(crc32_z(0, ihdr + 4, 17)));
    return put(header, sizeof header);
  }

  PngWritten add_rows(const uint8_t* rows, int64_t count, int64_t stride) {
    if (rows_added_ + count > size_.height) return base::failure(std::string("too many rows"));
    const int64_t pb = size_.pixel_bytes;
    for (int64_t r = 0; r < count; ++r) {
      if (!filling_) start_chunk();
      const uint8_t* src = rows + r * stride;
      const size_t at = filling_->filtered.size();
      filling_->filtered.resize(at + static_cast<size_t>(row_bytes_));
      uint8_t* dst = filling_->filtered.data() + at;
      dst[0] = sub_filter;
      std::memcpy(dst + 1, src, static_cast<size_t>(pb));
      for (int64_t i = pb; i < row_bytes_ - 1; ++i)
        dst[1 + i] = static_cast<uint8_t>(src[i] - src[i - pb]);
      ++rows_added_;
      if (rows_added_ == size_.height ||
          static_cast<int64_t>(filling_->filtered.size()) >= rows_per_chunk_ * row_bytes_) {
        if (PngWritten sent = submit(); !sent) return sent;
      }
    }
    return {};
  }

  PngWritten finish() {
    if (rows_added_ != size_.height)
      return base::failure("only " + std::to_string(rows_added_) + " of the image's " +
                           std::to_string(size_.height) + " rows came");
    while (!in_order_.empty())
      if (PngWritten ok = write_oldest(); !ok) return ok;
    static const uint8_t iend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
    return put(iend, sizeof iend);
  }

 private:
  void start_chunk() {
    filling_ = std::make_shared<Chunk>();
    filling_->index = next_index_++;
    filling_->dictionary = tail_;
    filling_->filtered.reserve(static_cast<size_t>(rows_per_chunk_ * row_bytes_));
  }

  // Hands the filled chunk to the workers, then writes what is done in order, waiting
  // while too much is in flight.
  PngWritten submit() {
    if (interrupt_signal() != 0) return base::failure(std::string("interrupted"));
    std::shared_ptr<Chunk> chunk = std::move(filling_);
    chunk->last = rows_added_ == size_.height;
    // The next chunk's dictionary: the last window of everything filtered so far.
    const std::vector<uint8_t>& data = chunk->filtered;
    if (data.size() >= window_bytes) {
      tail_.assign(data.end() - window_bytes, data.end());
    } else {
      tail_.insert(tail_.end(), data.begin(), data.end());
      if (tail_.size() > window_bytes) tail_.erase(tail_.begin(), tail_.end() - window_bytes);
    }
    {
      std::lock_guard lock(mutex_);
      pending_.push_back(chunk);
    }
    work_ready_.notify_one();
    in_order_.push_back(std::move(chunk));
    while (!in_order_.empty() && (in_order_.size() > max_in_flight_ || is_done(*in_order_.front())))
      if (PngWritten ok = write_oldest(); !ok) return ok;
    return {};
  }

  bool is_done(const Chunk& c) {
    std::lock_guard lock(mutex_);
    return c.done;
  }

  PngWritten write_oldest() {
    std::shared_ptr<Chunk> c = in_order_.front();
    in_order_.pop_front();
    {
      std::unique_lock lock(mutex_);
      chunk_done_.wait(lock, [&] { return c->done; });
    }
    if (interrupt_signal() != 0) return base::failure(std::string("interrupted"));
    if (!c->error.empty()) return base::failure(c->error);
    const auto length = static_cast<z_off_t>(c->length);
    adler_ = c->index == 0 ? c->adler
                           : static_cast<uint32_t>(adler32_combine(adler_, c->adler, length));
    if (c->last) {
      uint8_t trailer[4];
      put_be32(trailer, adler_);
      c->idat.insert(c->idat.end(), trailer, trailer + 4);
      c->crc = static_cast<uint32_t>(crc32_z(c->crc, trailer, 4));
    }
    return put_idat(*c);
  }

  // One IDAT, or several when the deflated bytes pass PNG's limit for a chunk.
  PngWritten put_idat(const Chunk& c) {
    const size_t data = c.idat.size() - 4;
    if (data <= max_chunk_data) return put_chunk(c.idat.data(), data, c.crc);
    for (size_t at = 0; at < data; at += max_chunk_data) {
      const size_t piece = std::min(max_chunk_data, data - at);
      std::vector<uint8_t> part(4 + piece);
      std::memcpy(part.data(), "IDAT", 4);
      std::memcpy(part.data() + 4, c.idat.data() + 4 + at, piece);
      const uLong crc = crc32_z(0, part.data(), part.size());
      if (PngWritten ok = put_chunk(part.data(), piece, crc); !ok) return ok;
    }
    return {};
  }

  // `typed`: the chunk's type and its `length` bytes of data.
  PngWritten put_chunk(const uint8_t* typed, size_t length, uLong crc) {
    uint8_t word[4];
    put_be32(word, static_cast<uint32_t>(length));
    if (PngWritten ok = put(word, 4); !ok) return ok;
    if (PngWritten ok = put(typed, 4 + length); !ok) return ok;
    put_be32(word, static_cast<uint32_t>(crc));
    return put(word, 4);
  }

  PngWritten put(const void* bytes, size_t n) {
    errno = 0;
    if (std::fwrite(bytes, 1, n, file_) != n)
      return base::failure("cannot write (" +
                           std::string(std::strerror(errno != 0 ? errno : EIO)) + ")");
    return {};
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
      deflate_chunk(*c);
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
  int64_t rows_per_chunk_ = 1;
  size_t max_in_flight_ = 2;
  int64_t rows_added_ = 0;
  int64_t next_index_ = 0;
  uint32_t adler_ = 1;
  std::vector<uint8_t> tail_;
  std::shared_ptr<Chunk> filling_;
  std::deque<std::shared_ptr<Chunk>> in_order_;  // handed over, not yet written

  std::mutex mutex_;
  std::condition_variable work_ready_, chunk_done_;
  std::deque<std::shared_ptr<Chunk>> pending_;  // for the workers
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

PngWriter::PngWriter(std::FILE* file, const ImageSize& size, int threads, int64_t chunk_bytes)
    : impl_(std::make_unique<Impl>(file, size, threads, chunk_bytes)) {}
PngWriter::~PngWriter() = default;
PngWritten PngWriter::begin() { return impl_->begin(); }
PngWritten PngWriter::add_rows(const uint8_t* rows, int64_t count, int64_t stride) {
  return impl_->add_rows(rows, count, stride);
}
PngWritten PngWriter::finish() { return impl_->finish(); }

PngWritten write_png(std::FILE* file, const StripImage& image, int threads,
                     int64_t chunk_bytes) {
  PngWriter writer(file, image.size(), threads, chunk_bytes);
  if (PngWritten ok = writer.begin(); !ok) return ok;
  if (PngWritten ok = writer.add_rows(image.row(0), image.size().height, image.stride()); !ok)
    return ok;
  return writer.finish();
}

}  // namespace scan
