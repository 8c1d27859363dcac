// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/clip_reader.h"

#include <algorithm>

#include "scan/slit/slit_scaler.h"

namespace scan {

ClipReader::ClipReader(decode::DecodeCursor cursor, ScanFrames frames, decode::SlotTable table,
                       decode::DisplayMatrix display, int width, int height)
    : walk_(std::move(cursor)),
      frames_(std::move(frames)),
      table_(std::move(table)),
      shape_{width, height, false},
      display_(display) {
  const AVCodecDescriptor* codec = avcodec_descriptor_get(walk_.cursor().codec()->codec_id);
  intra_only_ = codec != nullptr && (codec->props & AV_CODEC_PROP_INTRA_ONLY);
}

bool ClipReader::start() {
  // Every packet counts towards knowing where the file ended, also those read for the
  // first picture.
  walk_.cursor().set_packet_policy([this](const AVPacket& packet) {
    note_packet(packet);
    return decode::PacketUse::decode;
  });
  if (!walk_.load_next()) return false;
  // The pictures' own size and format: the stream's parameters are only a guess.
  const AVFrame* first = walk_.next().frame.get();
  shape_ = PictureShape::of(*first);
  return true;
}

bool ClipReader::choose(FrameChoice choice) {
  choice_ = choice;
  next_wanted_ = choice.from;
  const bool pooled = start_pool();
  if (!pooled && !seek_before(choice.from)) return false;
  walk_.cursor().set_packet_policy([this](const AVPacket& packet) {
    note_packet(packet);
    return use_of(packet);
  });
  if (!pooled) return true;
  // The pool starts afresh, at the keyframe of `from` or at the top, with the packets no
  // chosen frame needs already kept from it.
  const int key = frames_.variable_rate ? -1 : table_.key_at_or_before(choice.from);
  return key <= 0 ? walk_.restart_for(-1, table_, -1) : walk_.restart_for(choice.from, table_, 0);
}

// Starts the decoder at the last keyframe at or before `frame` (see Lookahead), never
// before the first one. Variable-rate clips and clips without keyframes in the table
// decode from the top, where the decoder stands since opening.
bool ClipReader::seek_before(int64_t frame) {
  if (frames_.variable_rate) return true;
  int key = table_.key_at_or_before(frame);
  const decode::Decoded& ahead = walk_.next();
  if (key <= 0 || (ahead.held() && ahead.slot >= table_.key_slots[key])) return true;
  return walk_.restart_for(frame, table_, 0);
}

void ClipReader::note_packet(const AVPacket& packet) {
  last_packet_frame_ = std::max(last_packet_frame_, frames_.frame_of_packet(packet));
}

// The stream ended before the packet of a picture the frame `wanted` shows: the file
// broke off (or could not be read on), and repeating the last picture for the rest would
// pass for a clip that ends in a still. AVIs whose pictures are not listed never tell.
bool ClipReader::broke_off_before(int64_t wanted) const {
  return frames_.next_picture_frame(last_packet_frame_) <= wanted;
}

// The smallest chosen frame at or after `first` lies before `end`.
bool ClipReader::wanted_between(int64_t first, int64_t end) const {
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
decode::PacketUse ClipReader::use_of(const AVPacket& packet) const {
  if (frames_.avi_slots && !intra_only_) return decode::PacketUse::decode;
  int64_t frame = frames_.frame_of_packet(packet);
  if (frame < 0 || wanted_between(frame, frames_.next_picture_frame(frame)))
    return decode::PacketUse::decode;
  return intra_only_ ? decode::PacketUse::drop : decode::PacketUse::decode_if_referenced;
}

// A variable-rate frame is its picture, whose stamp says when (every frame handed out has
// one); other frames are slots of the rate (AVI's chunks too).
double ClipReader::seconds_of(int64_t frame) const {
  if (frames_.variable_rate || frames_.fps > 0) return frames_.seconds_of(frame);
  return static_cast<double>(frame) * av_q2d(av_inv_q(frames_.clock.rate));
}

const AVFrame* ClipReader::next(int64_t& frame) {
  if (next_wanted_ >= choice_.to || choice_.every <= 0) return nullptr;
  walk_.advance_to(next_wanted_, [](int64_t) {});
  if (walk_.at_end() && walk_.cursor().stopped()) return nullptr;
  if (walk_.at_end() && broke_off_before(next_wanted_)) {
    broke_off_ = true;
    return nullptr;
  }
  const decode::Decoded& shown = walk_.current();
  if (!shown.held()) return nullptr;
  frame = next_wanted_;
  stamp_.frame = frame;
  stamp_.seconds = seconds_of(frame);
  // Its own picture would stand at its slot: the decoder reads ahead, so counting damage
  // while this frame was fetched could blame a neighbour.
  stamp_.repeat = shown.slot != frame;
  stamp_.damaged = !stamp_.repeat && decode::damaged_picture(*shown.frame);
  next_wanted_ = choice_.step_after(next_wanted_);
  return shown.frame.get();
}

}  // namespace scan
