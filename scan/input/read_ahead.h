// SPDX-License-Identifier: GPL-3.0-or-later
// A source whose next pictures are fetched on a thread of its own while the run converts
// the one before: the decoder is fed without pause, and the conversion uses the time its
// threads leave idle. Everything the run asks of the source is answered as it was when
// that picture was handed out, so a run sees what it would see without it.
#pragma once
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "decode/ffmpeg_handles.h"
#include "scan/input/frame_source.h"

namespace scan {

class ReadAhead final : public FrameSource {
 public:
  // Reads `source` ahead once choose() has been called on it here, unless it decodes ahead
  // on threads of its own already: then it is asked directly.
  explicit ReadAhead(std::unique_ptr<FrameSource> source);
  ~ReadAhead() override;
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  int width() const override { return source_->width(); }
  int height() const override { return source_->height(); }
  bool deep() const override { return source_->deep(); }
  const decode::DisplayMatrix& display() const override { return source_->display(); }
  bool length_known() const override { return source_->length_known(); }
  const ScanFrames& frames() const override { return source_->frames(); }
  std::optional<std::string> creation_time() const override { return source_->creation_time(); }
  void read_only(Rect area) override { source_->read_only(area); }
  bool choose(FrameChoice choice) override;
  const AVFrame* next(int64_t& frame) override;
  const FrameStamp& stamp() const override { return through_ ? source_->stamp() : current_.stamp; }
  bool broke_off() const override { return through_ ? source_->broke_off() : current_.broke_off; }
  int read_error() const override { return through_ ? source_->read_error() : current_.read_error; }
  int64_t damaged() const override { return through_ ? source_->damaged() : current_.damaged; }
  std::string first_damaged() const override {
    return through_ ? source_->first_damaged() : current_.first_damaged;
  }
  std::optional<std::string> failure() const override {
    return through_ ? source_->failure() : current_.failure;
  }

 private:
  // A picture (none at the end) and the source's answers right after handing it out.
  struct Fetched {
    decode::FramePtr picture;
    int64_t frame = 0;
    FrameStamp stamp;
    bool broke_off = false;
    int read_error = 0;
    int64_t damaged = 0;
    std::string first_damaged;
    std::optional<std::string> failure;
  };

  void fetch_all();
  void fetch_to_end();

  std::unique_ptr<FrameSource> source_;
  Fetched current_;
  bool ended_ = false;    // the end has been handed out
  bool through_ = true;   // no fetching thread: every call goes to the source
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Fetched> ready_;
  bool stopping_ = false;
  bool out_of_memory_ = false;  // the fetching thread ran out of memory and ended
  std::thread fetcher_;
};

}  // namespace scan
