// SPDX-License-Identifier: GPL-3.0-or-later
// Several decoders for a stream whose pictures each stand alone (MJPEG, PNG, rawvideo,
// huffyuv, utvideo, ProRes, FFV1 of keyframes only, ...): packets are handed out to them in
// turn and decoded at the same time, and the outcomes come back in the packets' order, as
// one decoder gives them. Only packets that stand alone may be sent (see takes()): a
// picture that carries on from the one before (FFV1 between keyframes) needs the decoder
// that saw it, so a stream with such pictures leaves the pool for one decoder.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "decode/ffmpeg_handles.h"
#include "decode/media_input.h"

namespace decode {

// Decodes `packet` into `frame` some other way than FFmpeg's decoder (a partial JPEG
// decode); false when it cannot take this packet, which then goes to FFmpeg's decoder.
// Runs on the pool's threads, one call at a time per worker.
using PictureShortcut = std::function<bool(const AVPacket& packet, AVFrame& frame)>;
// One shortcut per worker, made on that worker's thread's behalf (it may hold state).
using ShortcutMaker = std::function<PictureShortcut()>;

// A picture the decoder reported damaged, or made from a packet the demuxer read only in
// part (a file or stream that breaks off inside it).
inline bool damaged_picture(const AVFrame& frame) {
  return frame.decode_error_flags != 0 || (frame.flags & AV_FRAME_FLAG_CORRUPT) != 0;
}

// Flags `packet` as read in part (AV_PKT_FLAG_CORRUPT, as demuxers flag a short read)
// also where the demuxer cannot tell: a JPEG picture without its end marker, which a raw
// MJPEG stream that breaks off inside a picture hands out as it is.
void flag_cut_short(AVCodecID codec, AVPacket& packet);

// Marks `frame` damaged when it came from one of `corrupt`, the decoding stamps of packets
// read only in part, and forgets the stamps at or before it.
void mark_cut_short(AVFrame& frame, std::vector<int64_t>& corrupt);

// What one packet gave.
struct IntraOutcome {
  bool picture = false;  // `frame` holds it
  bool refused = false;  // avcodec_send_packet failed
  bool broken = false;   // avcodec_receive_frame failed
};

class IntraPool {
 public:
  // `workers` decoders of `stream` of one thread each. Fails as open_decoder does.
  [[nodiscard]] static Opening<std::unique_ptr<IntraPool>> open(const AVStream* stream,
                                                                int workers,
                                                                ShortcutMaker shortcut = {});
  ~IntraPool();
  IntraPool(const IntraPool&) = delete;
  IntraPool& operator=(const IntraPool&) = delete;

  // Streams whose pictures may stand alone.
  static bool suits(AVCodecID codec);
  // Whether `packet` decodes without any packet before it, judged from its bytes as the
  // codec reads them, never from the container's keyframe flag (a pipe's AVI flags every
  // packet).
  static bool stands_alone(AVCodecID codec, const AVPacket& packet);
  bool takes(const AVPacket& packet) const { return stands_alone(codec_id_, packet); }

  bool has_room() const { return jobs_.size() < capacity_; }
  bool empty() const { return jobs_.empty(); }
  // Takes `packet`'s data (it is left blank) and starts decoding it.
  void send(AVPacket* packet);
  // Waits for the oldest packet sent and gives what it gave; call only when !empty().
  IntraOutcome receive(AVFrame* frame);
  // Forgets every packet sent and flushes the decoders, as after a seek.
  void flush();

 private:
  struct Job {
    PacketPtr packet = new_packet();
    FramePtr frame = new_frame();
    size_t worker = 0;
    bool started = false, done = false;
    IntraOutcome outcome;
  };
  struct Worker {
    CodecPtr codec;
    PictureShortcut shortcut;
    std::thread thread;
  };
  IntraPool() = default;
  void work(size_t index);
  static void decode(Worker& worker, Job& job);

  AVCodecID codec_id_ = AV_CODEC_ID_NONE;
  std::vector<std::unique_ptr<Worker>> workers_;
  size_t capacity_ = 0;
  size_t next_worker_ = 0;
  std::deque<std::unique_ptr<Job>> jobs_;  // in the packets' order
  std::mutex mutex_;
  std::condition_variable wake_workers_, wake_reader_;
  bool closing_ = false;
};

}  // namespace decode
