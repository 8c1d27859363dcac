// SPDX-License-Identifier: GPL-3.0-or-later
// Clip over libavformat/libavcodec: exact frame positioning, and a pool of scaled
// pictures of the current group of frames so that stepping back seldom decodes.
#pragma once
#include <vector>

#include "service/clip.h"
#include "decode/decode_cursor.h"
#include "service/frame_pool.h"
#include "service/frame_scaler.h"
#include "decode/slot_table.h"

namespace service {

// Bytes the pool of scaled pictures may take: a 250-frame group at 320x240 fits.
inline constexpr size_t pool_byte_cap = size_t{96} << 20;

class FfmpegClip final : public Clip {
 public:
  FfmpegClip(decode::DecodeCursor cursor, decode::SlotTable table, double fps, int width, int height);

  // Decodes the first picture; a clip none of whose pictures decodes is not playable.
  MediaStatus start();

  int64_t length() const override { return table_.length; }
  int64_t position() const override { return position_; }
  int width() const override { return width_; }
  int height() const override { return height_; }
  double frames_per_second() const override { return fps_; }

  MediaStatus seek(int64_t frame) override;
  MediaStatus step_forward() override;
  MediaStatus step_back() override;
  void set_output_size(int width, int height) override;
  MediaStatus render(const PixelBuffer& target, Rect dest) override;
  std::shared_ptr<const VideoPicture> picture(Rect place) override;

  size_t pool_capacity() const { return pool_.capacity(); }
  int64_t rejected_packets() const { return walk_.cursor().rejected_packets(); }
  int64_t decoded_pictures() const { return walk_.cursor().decoded_pictures(); }

 private:
  void configure_pool(int width, int height, bool commit);
  MediaStatus show(int64_t slot, int64_t keep_from);
  bool reachable_forward(int64_t slot) const;
  MediaStatus restart_for(int64_t slot);
  void keep_current();
  bool current_shows(int64_t slot) const;
  const uint32_t* shown_picture();
  MediaStatus scale_shown(uint32_t* pixels, int width, int height, int stride);

  decode::Lookahead walk_;  // the picture the decoder stands on, and the one after it
  decode::SlotTable table_;
  double fps_;
  int width_, height_;
  int out_w_ = 0, out_h_ = 0;
  int64_t position_ = 0;

  bool current_kept_ = false;  // the current picture is the pool's last
  int64_t previous_slot_ = -1;  // slot of the picture decoded before the current one

  FramePool pool_;
  FrameScaler pool_scaler_, render_scaler_;
  std::vector<uint32_t> scratch_;
};

}  // namespace service
