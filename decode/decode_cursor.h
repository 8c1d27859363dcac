// SPDX-License-Identifier: GPL-3.0-or-later
// Demuxes and decodes one video stream forward, naming the frame slot of every picture.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "decode/ffmpeg_handles.h"
#include "decode/intra_pool.h"
#include "decode/open_stream.h"
#include "decode/slot_table.h"

namespace decode {

struct Decoded {
  FramePtr frame = new_frame();
  int64_t slot = -1;  // -1: nothing held
  bool held() const { return slot >= 0; }
};

// What to do with a packet, for a reader that wants only some pictures.
enum class PacketUse {
  decode,
  decode_if_referenced,  // decode only if other pictures refer to it (AVDISCARD_NONREF)
  drop,                  // do not send it to the decoder at all (intra-only codecs)
};
using PacketPolicy = std::function<PacketUse(const AVPacket&)>;

class DecodeCursor {
 public:
  // Decodes `opened` from where its demuxer stands (the top of the file).
  explicit DecodeCursor(OpenedStream&& opened);

  // Starts decoding afresh at the keyframe with stream timestamp `stamp` (at or before it
  // when the demuxer seeks coarsely). When the demuxer cannot seek, starts at the beginning.
  bool restart(int64_t stamp);
  // Starts decoding afresh at the top of the file, as at opening.
  bool restart_at_top();
  // The next picture in showing order; false at the end of the stream.
  bool next(Decoded& out);

  // Packets the decoder refused; their slots show the picture before them.
  int64_t rejected_packets() const { return rejected_; }
  // Pictures decoded since opening: what moving around has cost.
  int64_t decoded_pictures() const { return decoded_; }
  AVCodecContext* codec() const { return codec_.get(); }

  // Asks `policy` about every packet before it goes to the decoder; pictures not wanted
  // are then not decoded. Errors the decoder reports while draining no longer end the
  // stream: the pictures still inside it come out.
  void set_packet_policy(PacketPolicy policy) { policy_ = std::move(policy); }
  // Numbers pictures by their rank among `stamps`, the sorted presentation stamps of
  // every picture of the stream, instead of by slots of the frame rate (variable rate).
  void number_by_rank(std::vector<int64_t> stamps) { ranks_ = std::move(stamps); }
  // Packets refused and pictures the decoder reported broken.
  int64_t damaged() const { return rejected_ + broken_; }
  // Packets the policy kept from the decoder.
  int64_t dropped_packets() const { return dropped_; }
  // Asked before every packet read; once it says so, next() gives no more pictures.
  void set_stop(ShouldStop stop) { stop_ = std::move(stop); }
  // The last next() gave up because `stop` said so, not at the end of the stream.
  bool stopped() const { return stopped_; }
  // FFmpeg's error when the demuxer stopped before the end of the file (a file that broke
  // off while it was read, a failing disk); 0 when it reached the end or has not stopped.
  int read_error() const { return read_error_; }
  // From now on packets go to `pool`'s decoders instead of codec(): for streams whose
  // pictures stand alone, several are decoded at once. What codec() still holds is lost,
  // so a restart follows. At the first packet that does not stand alone the cursor leaves
  // the pool for good and goes on with codec() alone.
  void decode_with(std::unique_ptr<IntraPool> pool) { pool_ = std::move(pool); }
  bool pooled() const { return pool_ != nullptr; }

 private:
  bool next_from_pool(Decoded& out);
  void leave_pool();
  bool read_packet();
  bool offer_packet();
  bool reopen();
  int64_t slot_of(const AVFrame* frame) const;

  std::string path_;
  InputPtr format_;
  int stream_;
  CodecPtr codec_;
  SlotClock clock_;
  bool dts_slots_;
  PacketPtr packet_ = new_packet();
  bool draining_ = false;
  int64_t last_slot_ = -1;
  bool first_ = true;  // no picture given since the last start
  int64_t rejected_ = 0;
  int64_t decoded_ = 0;
  PacketPolicy policy_;
  ShouldStop stop_;
  bool stopped_ = false;
  std::vector<int64_t> ranks_;
  int64_t broken_ = 0;
  int64_t dropped_ = 0;
  int read_error_ = 0;
  std::unique_ptr<IntraPool> pool_;
  bool leaving_ = false;                 // packet_ does not stand alone: the pool empties
  PacketPtr last_pooled_ = new_packet();  // the last packet the pool decoded
  bool last_pooled_gave_ = false;         // and whether it gave a picture
  int discard_ = 0;                       // pictures codec() gives again, not handed out
  std::vector<int64_t> cut_short_;        // decoding stamps of packets read in part
};

// The picture shown and the one after it, decoded forward: what a reader that goes through
// a clip's frames in order stands on, going back to a keyframe when it must.
class Lookahead {
 public:
  explicit Lookahead(DecodeCursor cursor) : cursor_(std::move(cursor)) {}

  DecodeCursor& cursor() { return cursor_; }
  const DecodeCursor& cursor() const { return cursor_; }
  Decoded& current() { return current_; }
  const Decoded& current() const { return current_; }
  const Decoded& next() const { return next_; }
  // The stream has no picture after current().
  bool at_end() const { return at_end_; }

  // Decodes the picture after the current one, where nothing stands yet; false when none comes.
  bool load_next();

  // Starts decoding afresh at the last keyframe of `table` at or before `slot`, and one
  // keyframe earlier as often as the first picture lies past `slot` (B-frames of an open
  // group need the group before) or none comes, down to keyframe `lowest`; -1 is the top
  // of the file with a fresh decoder, as at opening. False when decoding cannot start or,
  // from there, gives no picture. Nothing is shown afterwards; next() is the first picture.
  bool restart_for(int64_t slot, const SlotTable& table, int lowest);

  // Moves on until current() is the last picture at or before `slot`: with nothing shown
  // yet, the first picture stands in even when it lies past `slot`. After each move
  // `moved(previous)` runs, `previous` the slot shown before (-1: none). Standing on `slot`
  // itself, it decodes nothing further: the picture would go cold in the cache.
  template <class Moved>
  void advance_to(int64_t slot, Moved&& moved) {
    for (;;) {
      if (current_.held() && current_.slot == slot) return;
      if (!next_.held() && (at_end_ || !cursor_.next(next_))) {
        next_.slot = -1;
        at_end_ = true;
        return;
      }
      if (current_.held() && next_.slot > slot) return;
      const int64_t previous = current_.slot;
      std::swap(current_, next_);
      next_.slot = -1;
      moved(previous);
    }
  }

 private:
  DecodeCursor cursor_;
  Decoded current_, next_;
  bool at_end_ = false;
};

}  // namespace decode
