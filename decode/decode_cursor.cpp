// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/decode_cursor.h"

#include <algorithm>

#include "decode/decoder_setup.h"
#include "decode/media_input.h"

namespace decode {

DecodeCursor::DecodeCursor(OpenedStream&& opened)
    : path_(std::move(opened.path)),
      format_(std::move(opened.format)),
      stream_(opened.stream),
      codec_(std::move(opened.codec)),
      clock_(opened.clock),
      dts_slots_(opened.avi) {}

bool DecodeCursor::reopen() {
  Opening<MediaInput> input = open_media(path_);
  if (!input || input->stream != stream_) return false;
  // A flushed decoder does not always take a stream's first packets as a fresh one does
  // (a raw MPEG-4 stream whose one picture has no keyframe before it gave none): from the
  // top, decoding starts with a fresh decoder, so it gives what it gave at opening.
  Opening<CodecPtr> codec = open_decoder(input->format->streams[stream_], codec_->thread_count);
  if (!codec) return false;
  format_ = std::move(input->format);
  codec_ = std::move(*codec);
  return true;
}

bool DecodeCursor::restart(int64_t stamp) {
  avcodec_flush_buffers(codec_.get());
  if (pool_) pool_->flush();
  leaving_ = false;
  discard_ = 0;
  draining_ = false;
  read_error_ = 0;
  // Where the demuxer really landed is told by the first picture's own stamp; the
  // keyframe asked for is only the guess for a picture without one.
  first_ = true;
  if (av_seek_frame(format_.get(), stream_, stamp, AVSEEK_FLAG_BACKWARD) >= 0) {
    last_slot_ = clock_.to_slot(stamp) - 1;
    return true;
  }
  // Without an index some demuxers cannot seek at all: read again from the top.
  return restart_at_top();
}

bool DecodeCursor::restart_at_top() {
  if (pool_) pool_->flush();
  leaving_ = false;
  discard_ = 0;
  draining_ = false;
  read_error_ = 0;
  first_ = true;
  last_slot_ = -1;
  return reopen();
}

bool DecodeCursor::read_packet() {
  for (int tries = 0; tries < 1000; ++tries) {
    av_packet_unref(packet_.get());
    int err = av_read_frame(format_.get(), packet_.get());
    if (err == AVERROR(EAGAIN)) continue;
    if (err < 0) {
      if (err != AVERROR_EOF) read_error_ = err;
      return false;
    }
    if (packet_->stream_index == stream_) {
      flag_cut_short(codec_->codec_id, *packet_);
      return true;
    }
  }
  return false;
}

// AVI has no real presentation timestamps when B-frames are present, but every chunk is
// one slot and the decoder hands out a picture `has_b_frames` packets after its own, in
// showing order: so the picture released by the packet of slot n shows at slot n - delay.
int64_t DecodeCursor::slot_of(const AVFrame* frame) const {
  int64_t stamp = dts_slots_ ? frame->pkt_dts : frame->best_effort_timestamp;
  int64_t slot = last_slot_ + 1;
  if (stamp != AV_NOPTS_VALUE && !ranks_.empty()) {
    slot = std::lower_bound(ranks_.begin(), ranks_.end(), stamp) - ranks_.begin();
  } else if (stamp != AV_NOPTS_VALUE) {
    slot = clock_.to_slot(stamp);
    if (dts_slots_) slot -= codec_->has_b_frames;
  }
  // Slots only ever grow; a damaged stamp must not send the cursor back.
  if (first_) return std::max<int64_t>(slot, 0);
  return slot > last_slot_ ? slot : last_slot_ + 1;
}

bool DecodeCursor::next(Decoded& out) {
  if (pool_) return next_from_pool(out);
  stopped_ = false;
  for (;;) {
    int err = avcodec_receive_frame(codec_.get(), out.frame.get());
    if (err == 0 && discard_ > 0) {
      --discard_;
      continue;
    }
    if (err == 0) {
      mark_cut_short(*out.frame, cut_short_);
      out.slot = last_slot_ = slot_of(out.frame.get());
      first_ = false;
      ++decoded_;
      return true;
    }
    if (err == AVERROR_EOF) return false;
    if (err != AVERROR(EAGAIN)) ++broken_;
    if (draining_) {
      if (!policy_ || err == AVERROR(EAGAIN)) return false;
      continue;
    }
    // Between two chosen frames whole minutes of packets may be read or dropped.
    if (stop_ && stop_()) {
      stopped_ = true;
      return false;
    }
    if (!read_packet()) {
      avcodec_send_packet(codec_.get(), nullptr);
      draining_ = true;
      continue;
    }
    if (packet_->flags & AV_PKT_FLAG_CORRUPT) cut_short_.push_back(packet_->dts);
    // A packet the decoder refuses is skipped: its slot keeps the last good picture.
    if (offer_packet() && avcodec_send_packet(codec_.get(), packet_.get()) < 0) ++rejected_;
  }
}

// As next(), the pool's decoders kept busy with the packets ahead. Each packet gives one
// picture or none, so refusals and broken pictures count as with one decoder.
bool DecodeCursor::next_from_pool(Decoded& out) {
  stopped_ = false;
  for (;;) {
    while (!leaving_ && !draining_ && pool_->has_room()) {
      if (stop_ && stop_()) {
        stopped_ = true;
        return false;
      }
      if (!read_packet()) {
        draining_ = true;
        break;
      }
      if (!offer_packet()) continue;
      if (!pool_->takes(*packet_)) {
        leaving_ = true;
        break;
      }
      av_packet_unref(last_pooled_.get());
      if (av_packet_ref(last_pooled_.get(), packet_.get()) < 0) av_packet_unref(last_pooled_.get());
      pool_->send(packet_.get());
    }
    if (pool_->empty() && leaving_) {
      leave_pool();
      return next(out);
    }
    if (pool_->empty()) return false;
    const IntraOutcome got = pool_->receive(out.frame.get());
    last_pooled_gave_ = got.picture;
    rejected_ += got.refused;
    broken_ += got.broken;
    if (!got.picture) continue;
    out.slot = last_slot_ = slot_of(out.frame.get());
    first_ = false;
    ++decoded_;
    return true;
  }
}

// Every packet the pool took has given its picture. codec() goes on from there: it decodes
// the pool's last packet once more (the keyframe the waiting packet carries on from), whose
// picture was handed out already, and then the waiting packet.
void DecodeCursor::leave_pool() {
  pool_.reset();
  leaving_ = false;
  avcodec_flush_buffers(codec_.get());
  discard_ = 0;
  if (last_pooled_->data != nullptr && avcodec_send_packet(codec_.get(), last_pooled_.get()) >= 0 &&
      last_pooled_gave_)
    discard_ = 1;
  av_packet_unref(last_pooled_.get());
  if (packet_->flags & AV_PKT_FLAG_CORRUPT) cut_short_.push_back(packet_->dts);
  if (avcodec_send_packet(codec_.get(), packet_.get()) < 0) ++rejected_;
}

// False when the policy keeps the packet from the decoder. libavcodec reads skip_frame
// with every packet, also into its frame threads, so it can change from one to the next.
bool DecodeCursor::offer_packet() {
  if (!policy_) return true;
  PacketUse use = policy_(*packet_);
  if (use == PacketUse::drop) {
    ++dropped_;
    return false;
  }
  codec_->skip_frame = use == PacketUse::decode ? AVDISCARD_DEFAULT : AVDISCARD_NONREF;
  return true;
}

bool Lookahead::load_next() {
  if (!cursor_.next(next_)) {
    next_.slot = -1;
    return false;
  }
  return true;
}

bool Lookahead::restart_for(int64_t slot, const SlotTable& table, int lowest) {
  int key = table.key_at_or_before(slot);
  for (;;) {
    current_.slot = next_.slot = -1;
    at_end_ = false;
    const bool restarted =
        key >= 0 ? cursor_.restart(table.key_stamps[key]) : cursor_.restart_at_top();
    if (!restarted) return false;
    const bool got = load_next();
    if (!got && cursor_.stopped()) return false;
    if ((!got || next_.slot > slot) && key > lowest) {
      --key;
      continue;
    }
    return got;
  }
}

}  // namespace decode
