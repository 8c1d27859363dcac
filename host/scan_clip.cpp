#include "host/scan_clip.h"

#include <algorithm>

#include "host/slit_scaler.h"

namespace host {

ScanClip::ScanClip(DecodeCursor cursor, ScanFrames frames, SlotTable table, int width, int height)
    : cursor_(std::move(cursor)),
      frames_(std::move(frames)),
      table_(std::move(table)),
      width_(width),
      height_(height) {
  const AVCodecDescriptor* codec = avcodec_descriptor_get(cursor_.codec()->codec_id);
  intra_only_ = codec != nullptr && (codec->props & AV_CODEC_PROP_INTRA_ONLY);
}

bool ScanClip::start() {
  // Every packet counts towards knowing where the file ended, also those read for the
  // first picture.
  cursor_.set_packet_policy([this](const AVPacket& packet) {
    note_packet(packet);
    return PacketUse::decode;
  });
  if (!cursor_.next(ahead_)) return false;
  // The pictures' own size and format: the stream's parameters are only a guess.
  width_ = ahead_.frame->width;
  height_ = ahead_.frame->height;
  deep_ = deep_pixel_format(ahead_.frame->format);
  return true;
}

bool ScanClip::choose(FrameChoice choice) {
  choice_ = choice;
  next_wanted_ = choice.from;
  if (!seek_before(choice.from)) return false;
  cursor_.set_packet_policy([this](const AVPacket& packet) {
    note_packet(packet);
    return use_of(packet);
  });
  return true;
}

// Starts the decoder at the last keyframe at or before `frame`, one keyframe earlier as
// often as the first picture it gives lies past `frame` (B-frames of an open group).
// Variable-rate clips and clips without keyframes in the table decode from the top.
bool ScanClip::seek_before(int64_t frame) {
  if (frames_.variable_rate) return true;
  int key = table_.key_at_or_before(frame);
  // The first picture, decoded when opening, is where the decoder stands.
  if (key <= 0 || (ahead_.held() && ahead_.slot >= table_.key_slots[key])) return true;
  for (;;) {
    shown_.slot = ahead_.slot = -1;
    at_end_ = false;
    if (!cursor_.restart(table_.key_stamps[key])) return false;
    bool got = cursor_.next(ahead_);
    if (!got) ahead_.slot = -1;
    if (!got && cursor_.stopped()) return false;
    if ((!got || ahead_.slot > frame) && key > 0) {
      --key;
      continue;
    }
    return got;
  }
}

void ScanClip::note_packet(const AVPacket& packet) {
  last_packet_frame_ = std::max(last_packet_frame_, frames_.frame_of_packet(packet));
}

// The stream ended before the packet of a picture the frame `wanted` shows: the file
// broke off (or could not be read on), and repeating the last picture for the rest would
// pass for a clip that ends in a still. AVIs whose pictures are not listed never tell.
bool ScanClip::broke_off_before(int64_t wanted) const {
  return frames_.next_picture_frame(last_packet_frame_) <= wanted;
}

// The smallest chosen frame at or after `first` lies before `end`.
bool ScanClip::wanted_between(int64_t first, int64_t end) const {
  int64_t wanted = choice_.from;
  if (first > choice_.from) {
    // Steps of `every` from `from`, counted so that nothing passes 64 bits.
    const int64_t steps = (first - choice_.from - 1) / choice_.every + 1;
    if (steps > (choice_.to - choice_.from - 1) / choice_.every) return false;  // past `to`
    wanted = choice_.from + steps * choice_.every;
  }
  return wanted < std::min(end, choice_.to);
}

// A picture is needed when a chosen frame falls between it and the next picture. AVI
// stamps its packets in decoding order, so there a packet's own frame is known only for
// intra-only codecs; anything unknown is decoded.
PacketUse ScanClip::use_of(const AVPacket& packet) const {
  if (frames_.avi_slots && !intra_only_) return PacketUse::decode;
  int64_t frame = frames_.frame_of_packet(packet);
  if (frame < 0 || wanted_between(frame, frames_.next_picture_frame(frame)))
    return PacketUse::decode;
  return intra_only_ ? PacketUse::drop : PacketUse::decode_if_referenced;
}

// Moves the shown picture on to the last one at or before `frame`; with nothing shown yet,
// the first picture stands in even when it lies past `frame`.
void ScanClip::take_pictures_up_to(int64_t frame) {
  for (;;) {
    if (!ahead_.held() && (at_end_ || !cursor_.next(ahead_))) {
      ahead_.slot = -1;
      at_end_ = true;
      return;
    }
    if (shown_.held() && ahead_.slot > frame) return;
    std::swap(shown_, ahead_);
    ahead_.slot = -1;
  }
}

const AVFrame* ScanClip::next(int64_t& frame) {
  if (next_wanted_ >= choice_.to || choice_.every <= 0) return nullptr;
  take_pictures_up_to(next_wanted_);
  if (at_end_ && cursor_.stopped()) return nullptr;
  if (at_end_ && broke_off_before(next_wanted_)) {
    broke_off_ = true;
    return nullptr;
  }
  if (!shown_.held()) return nullptr;
  frame = next_wanted_;
  next_wanted_ =
      choice_.every < choice_.to - next_wanted_ ? next_wanted_ + choice_.every : choice_.to;
  return shown_.frame.get();
}

}  // namespace host
