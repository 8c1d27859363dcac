// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/intra_pool.h"

#include <algorithm>

#include "decode/decoder_setup.h"

namespace decode {

bool IntraPool::suits(AVCodecID codec) {
  // FFV1's keyframes stand alone, the packets between them do not (takes() tells them
  // apart); PNG's stand alone (animated PNG is another codec), though FFmpeg does not say so.
  if (codec == AV_CODEC_ID_FFV1 || codec == AV_CODEC_ID_PNG) return true;
  const AVCodecDescriptor* desc = avcodec_descriptor_get(codec);
  return desc != nullptr && (desc->props & AV_CODEC_PROP_INTRA_ONLY);
}

bool IntraPool::stands_alone(AVCodecID codec, const AVPacket& packet) {
  if (codec != AV_CODEC_ID_FFV1) return true;
  // An FFV1 frame opens with one bit of its range coder, in a state of one half: set on a
  // keyframe, which starts the coder's states afresh; clear on a frame that carries on
  // with the states the frame before left. The coder starts with range 0xFF00 and the
  // first two bytes as its value, so the bit is set exactly when they reach half the
  // range. Past the packet's end the decoder reads its zero padding, as here.
  const int first = packet.size > 0 ? packet.data[0] : 0;
  const int second = packet.size > 1 ? packet.data[1] : 0;
  return (first << 8 | second) >= 0xFF00 / 2;
}

void flag_cut_short(AVCodecID codec, AVPacket& packet) {
  if (codec != AV_CODEC_ID_MJPEG || packet.size < 2) return;
  // The end marker (FF D9) closes the picture; some writers pad a few bytes after it.
  const int from = std::max(packet.size - 16, 0);
  for (int i = packet.size - 2; i >= from; --i)
    if (packet.data[i] == 0xff && packet.data[i + 1] == 0xd9) return;
  packet.flags |= AV_PKT_FLAG_CORRUPT;
}

void mark_cut_short(AVFrame& frame, std::vector<int64_t>& corrupt) {
  if (corrupt.empty() || frame.pkt_dts == AV_NOPTS_VALUE) return;
  if (std::find(corrupt.begin(), corrupt.end(), frame.pkt_dts) != corrupt.end())
    frame.flags |= AV_FRAME_FLAG_CORRUPT;
  std::erase_if(corrupt, [&](int64_t dts) { return dts <= frame.pkt_dts; });
}

Opening<std::unique_ptr<IntraPool>> IntraPool::open(const AVStream* stream, int workers,
                                                    ShortcutMaker shortcut) {
  std::unique_ptr<IntraPool> pool(new IntraPool);
  pool->codec_id_ = stream->codecpar->codec_id;
  for (int i = 0; i < std::max(workers, 1); ++i) {
    // One thread each: the pool is where the parallelism comes from, and a decoder of one
    // thread hands out each picture for its own packet, never one packet late.
    Opening<CodecPtr> codec = open_decoder(stream, 1);
    if (!codec) return base::failure(codec.error());
    auto worker = std::make_unique<Worker>();
    worker->codec = std::move(*codec);
    if (shortcut) worker->shortcut = shortcut();
    pool->workers_.push_back(std::move(worker));
  }
  pool->capacity_ = 2 * pool->workers_.size();
  for (size_t i = 0; i < pool->workers_.size(); ++i)
    pool->workers_[i]->thread = std::thread([p = pool.get(), i] { p->work(i); });
  return pool;
}

IntraPool::~IntraPool() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  wake_workers_.notify_all();
  for (auto& worker : workers_)
    if (worker->thread.joinable()) worker->thread.join();
}

void IntraPool::send(AVPacket* packet) {
  auto job = std::make_unique<Job>();
  av_packet_move_ref(job->packet.get(), packet);
  job->worker = next_worker_;
  next_worker_ = (next_worker_ + 1) % workers_.size();
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_workers_.notify_all();
}

IntraOutcome IntraPool::receive(AVFrame* frame) {
  std::unique_lock lock(mutex_);
  wake_reader_.wait(lock, [this] { return jobs_.front()->done; });
  std::unique_ptr<Job> job = std::move(jobs_.front());
  jobs_.pop_front();
  lock.unlock();
  av_frame_unref(frame);
  if (job->outcome.picture) av_frame_move_ref(frame, job->frame.get());
  return job->outcome;
}

void IntraPool::flush() {
  std::unique_lock lock(mutex_);
  // Packets not started are dropped; those being decoded are waited for.
  for (auto& job : jobs_)
    if (!job->started) job->done = job->started = true;
  wake_reader_.wait(lock, [this] {
    for (const auto& job : jobs_)
      if (!job->done) return false;
    return true;
  });
  jobs_.clear();
  for (auto& worker : workers_) avcodec_flush_buffers(worker->codec.get());
}

void IntraPool::work(size_t index) {
  Worker& worker = *workers_[index];
  std::unique_lock lock(mutex_);
  for (;;) {
    Job* job = nullptr;
    wake_workers_.wait(lock, [&] {
      if (closing_) return true;
      for (auto& j : jobs_)
        if (j->worker == index && !j->started) {
          job = j.get();
          return true;
        }
      return false;
    });
    if (job == nullptr) return;  // closing
    job->started = true;
    lock.unlock();
    decode(worker, *job);
    lock.lock();
    job->done = true;
    wake_reader_.notify_all();
  }
}

void IntraPool::decode(Worker& worker, Job& job) {
  AVFrame* frame = job.frame.get();
  const AVPacket& packet = *job.packet;
  if (worker.shortcut && worker.shortcut(packet, *frame)) {
    // Stamped as FFmpeg's decoder stamps a picture of its own packet.
    frame->pts = packet.pts;
    frame->pkt_dts = packet.dts;
    frame->best_effort_timestamp = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    if (packet.flags & AV_PKT_FLAG_CORRUPT) frame->flags |= AV_FRAME_FLAG_CORRUPT;
    job.outcome.picture = true;
    return;
  }
  av_frame_unref(frame);
  if (avcodec_send_packet(worker.codec.get(), &packet) < 0) {
    job.outcome.refused = true;
    return;
  }
  const int err = avcodec_receive_frame(worker.codec.get(), frame);
  if (err == 0 && (packet.flags & AV_PKT_FLAG_CORRUPT)) frame->flags |= AV_FRAME_FLAG_CORRUPT;
  if (err == 0)
    job.outcome.picture = true;
  else if (err != AVERROR(EAGAIN))
    job.outcome.broken = true;
}

}  // namespace decode
