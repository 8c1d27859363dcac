// SPDX-License-Identifier: GPL-3.0-or-later
// ClipReader's decoders for pictures that stand alone: as many as threads, at once, and
// for MJPEG libjpeg-turbo decoding only around the slit.
#include "scan/input/clip_reader.h"
#include "scan/input/clip_reader_pool.h"
#include "scan/input/jpeg_area.h"

namespace scan {

ClipReader::~ClipReader() = default;

void ClipReader::read_only(Rect area) {
  if (!jpeg_) return;
  // Several slits read from one clip: the area holds them all.
  if (jpeg_->on) area = jpeg_->area.united(area);
  jpeg_->width = shape_.width;
  jpeg_->height = shape_.height;
  jpeg_->area = area;
  jpeg_->on = true;
}

void ClipReader::set_pool(std::unique_ptr<decode::IntraPool> pool, std::shared_ptr<JpegWish> jpeg) {
  pool_ = std::move(pool);
  jpeg_ = std::move(jpeg);
}

// The pool takes over from the one decoder, unless the first picture was interlaced:
// MJPEG fields may come in packets of their own. True when it did; the caller restarts.
bool ClipReader::start_pool() {
  const bool fields = walk_.next().held() && walk_.next().frame->interlaced_frame;
  if (!pool_ || fields) {
    pool_.reset();
    return false;
  }
  walk_.cursor().decode_with(std::move(pool_));
  return true;
}

decode::Opening<std::unique_ptr<decode::IntraPool>> open_pool(
    const AVStream* stream, int threads, std::shared_ptr<JpegWish>& jpeg, bool jpeg_allowed) {
  decode::ShortcutMaker maker;
  if (jpeg_allowed && stream->codecpar->codec_id == AV_CODEC_ID_MJPEG) {
    jpeg = std::make_shared<JpegWish>();
    maker = jpeg_area_shortcuts(jpeg);
  }
  return decode::IntraPool::open(stream, threads, std::move(maker));
}

}  // namespace scan
