// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/clipwriter/broken_clips.h"

#include <functional>
#include <random>
#include <utility>

#include "tools/clipwriter/avi_bytes.h"
#include "tools/clipwriter/encoder_handles.h"

namespace clipwriter {
namespace {

// Offsets inside the chunks' data (after the 8 bytes of tag and size).
constexpr long kAvihTotalFrames = 8 + 16, kAvihWidth = 8 + 32, kAvihHeight = 8 + 36;
constexpr long kStrhLength = 8 + 32;
constexpr long kStrfWidth = 8 + 4, kStrfHeight = 8 + 8;

Bytes cut(const Bytes& whole, std::size_t size) {
  return Bytes(whole.begin(), whole.begin() + static_cast<long>(std::min(size, whole.size())));
}

Bytes noise(Bytes bytes, unsigned seed, int count, std::size_t from, std::size_t to) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> where(from, std::min(to, bytes.size()) - 1);
  for (int i = 0; i < count; ++i) bytes[where(random)] = static_cast<uint8_t>(random());
  return bytes;
}

// The header and the index both speak of frames far beyond the file's end.
Bytes claims_more_frames(Bytes bytes) {
  const long avih = find_tag(bytes, "avih"), strh = find_tag(bytes, "strh");
  const long idx1 = find_tag(bytes, "idx1");
  if (avih < 0 || strh < 0 || idx1 < 0) return bytes;
  put_le32(bytes, avih + kAvihTotalFrames, 5000);
  put_le32(bytes, strh + kStrhLength, 5000);
  constexpr int kExtra = 40;
  for (int i = 0; i < kExtra; ++i) {
    Bytes entry(16);
    std::copy_n("00dc", 4, entry.begin());
    put_le32(entry, 4, 0x10);  // keyframe
    put_le32(entry, 8, 0x6000000u + i * 4096u);
    put_le32(entry, 12, 4096);
    bytes.insert(bytes.end(), entry.begin(), entry.end());
  }
  put_le32(bytes, idx1 + 4, get_le32(bytes, idx1 + 4) + kExtra * 16);
  put_le32(bytes, 4, get_le32(bytes, 4) + kExtra * 16);
  return bytes;
}

Bytes frame_size(Bytes bytes, uint32_t width, uint32_t height) {
  const long avih = find_tag(bytes, "avih"), strf = find_tag(bytes, "strf");
  if (avih < 0 || strf < 0) return bytes;
  put_le32(bytes, avih + kAvihWidth, width);
  put_le32(bytes, avih + kAvihHeight, height);
  put_le32(bytes, strf + kStrfWidth, width);
  put_le32(bytes, strf + kStrfHeight, height);
  return bytes;
}

struct Damage {
  const char* name;
  std::function<Bytes(const Bytes&)> apply;
};

std::vector<Damage> damages() {
  // Where the frames begin, and where the index begins (the frames' end).
  const auto movi_data = [](const Bytes& b) {
    return static_cast<std::size_t>(find_tag(b, "movi") + 4);
  };
  const auto index = [](const Bytes& b) { return static_cast<std::size_t>(find_tag(b, "idx1")); };
  return {
      {"cut-inside-header", [](const Bytes& b) { return cut(b, 200); }},
      {"cut-before-first-frame", [=](const Bytes& b) { return cut(b, movi_data(b) + 20); }},
      {"cut-quarter", [](const Bytes& b) { return cut(b, b.size() / 4); }},
      {"cut-half", [](const Bytes& b) { return cut(b, b.size() / 2); }},
      {"cut-nine-tenths", [](const Bytes& b) { return cut(b, b.size() * 9 / 10); }},
      {"cut-before-index", [=](const Bytes& b) { return cut(b, index(b)); }},
      {"cut-last-byte", [](const Bytes& b) { return cut(b, b.size() - 1); }},
      {"noise-few-bytes", [](const Bytes& b) { return noise(b, 1, 24, 0, b.size()); }},
      {"noise-many-bytes", [](const Bytes& b) { return noise(b, 2, 3000, 0, b.size()); }},
      {"noise-in-header", [=](const Bytes& b) { return noise(b, 3, 40, 0, movi_data(b)); }},
      {"noise-in-frames", [=](const Bytes& b) { return noise(b, 4, 400, movi_data(b), index(b)); }},
      {"claims-more-frames", claims_more_frames},
      {"huge-frame-size", [](const Bytes& b) { return frame_size(b, 60000, 60000); }},
      {"huge-frame-width", [](const Bytes& b) { return frame_size(b, 1u << 30, 2); }},
  };
}

// Files that were never a clip.
const char* const kImpostors[] = {"empty", "zero-bytes", "text-renamed", "audio-only"};

base::Status write_stream_header(AVFormatContext* out) {
  AVStream* stream = avformat_new_stream(out, nullptr);
  if (stream == nullptr) return base::failed("out of memory");
  AVCodecParameters* p = stream->codecpar;
  p->codec_type = AVMEDIA_TYPE_AUDIO;
  p->codec_id = AV_CODEC_ID_PCM_S16LE;
  p->sample_rate = 8000;
  p->ch_layout = AV_CHANNEL_LAYOUT_MONO;
  p->bits_per_coded_sample = 16;
  p->block_align = 2;
  stream->time_base = {1, 8000};
  if (int err = avio_open(&out->pb, out->url, AVIO_FLAG_WRITE); err < 0)
    return base::failed(av_error_text("cannot create the audio-only file", err));
  if (int err = avformat_write_header(out, nullptr); err < 0)
    return base::failed(av_error_text("cannot write the audio-only header", err));
  return {};
}

}  // namespace

base::Status write_audio_only_avi(const std::string& path) {
  AVFormatContext* raw = nullptr;
  if (int err = avformat_alloc_output_context2(&raw, nullptr, "avi", path.c_str()); err < 0)
    return base::failed(av_error_text("cannot set up an AVI file", err));
  OutputPtr out(raw);
  if (base::Status started = write_stream_header(raw); !started) return started;
  PacketPtr packet(av_packet_alloc());
  if (!packet) return base::failed("out of memory");
  constexpr int kSamples = 800;  // a tenth of a second per packet, one second in all
  for (int i = 0; i < 10; ++i) {
    if (av_new_packet(packet.get(), kSamples * 2) < 0) return base::failed("out of memory");
    std::fill(packet->data, packet->data + packet->size, static_cast<uint8_t>(i * 16));
    packet->pts = packet->dts = static_cast<int64_t>(i) * kSamples;
    packet->duration = kSamples;
    if (int err = av_interleaved_write_frame(raw, packet.get()); err < 0)
      return base::failed(av_error_text("cannot write audio", err));
  }
  if (int err = av_write_trailer(raw); err < 0)
    return base::failed(av_error_text("cannot finish the audio-only file", err));
  return {};
}

std::vector<std::string> broken_clip_names() {
  std::vector<std::string> names;
  for (const Damage& damage : damages()) names.push_back(damage.name);
  names.insert(names.end(), std::begin(kImpostors), std::end(kImpostors));
  return names;
}

base::Result<std::vector<BrokenClip>, base::Error> write_broken_clips(const std::string& folder,
                                                                      const ClipSpec& spec) {
  std::vector<BrokenClip> written;
  const auto path_of = [&](const std::string& name) { return folder + "/" + name + ".avi"; };
  const std::string whole_path = path_of("whole");
  if (base::Status whole_written = write_avi(whole_path, spec, test_pattern); !whole_written)
    return base::failure(whole_written.error());
  const Bytes whole = read_bytes(whole_path);
  const auto keep = [&](const std::string& name, const Bytes& bytes) -> base::Status {
    if (!write_bytes(path_of(name), bytes)) return base::failed("cannot write " + path_of(name));
    written.push_back({name, path_of(name)});
    return {};
  };
  for (const Damage& damage : damages())
    if (base::Status kept = keep(damage.name, damage.apply(whole)); !kept)
      return base::failure(kept.error());
  const std::string text = "これは動画ではありません。Plain text, renamed to .avi.\n";
  const std::pair<const char*, Bytes> never_clips[] = {
      {"empty", {}},
      {"zero-bytes", Bytes(64 * 1024, 0)},
      {"text-renamed", Bytes(text.begin(), text.end())}};
  for (const auto& [name, bytes] : never_clips)
    if (base::Status kept = keep(name, bytes); !kept) return base::failure(kept.error());
  if (base::Status audio = write_audio_only_avi(path_of("audio-only")); !audio)
    return base::failure(audio.error());
  written.push_back({"audio-only", path_of("audio-only")});
  return written;
}

}  // namespace clipwriter
