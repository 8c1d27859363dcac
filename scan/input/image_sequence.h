// SPDX-License-Identifier: GPL-3.0-or-later
// A sequence of image files (a night of an all-sky camera's JPEGs, a clip's frames written
// as PNGs) read as a clip whose frames are the images. Each image is decoded by FFmpeg's
// decoder for its format, and only when a strip needs it.
#pragma once
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "decode/ffmpeg_handles.h"
#include "decode/media_input.h"
#include "scan/input/frame_source.h"

namespace scan {

// Frames a second a sequence is given, as FFmpeg's image demuxer gives it, for --from and
// --to in seconds and for the frames' times.
inline constexpr double sequence_fps = 25;

class JpegArea;

class ImageSequence : public FrameSource {
 public:
  // Decodes images from the first on until one decodes: its size, depth and orientation
  // are the sequence's. Fails when none does.
  // `threads` images are decoded side by side, ahead of the strip that needs them.
  // `numbers`, when given (a printf pattern's), are the files' numbers, ascending: each
  // image is at its number's time, and numbers missing between them are gaps in time.
  // `rotate`: each image is turned as its own EXIF orientation says, and handed out laid
  // as the first image is stored, so that one orientation (the first's) shows them all;
  // without it every image is used as stored.
  [[nodiscard]] static decode::Opening<std::unique_ptr<ImageSequence>> open(
      std::vector<std::string> files, int threads = 1, std::vector<long long> numbers = {},
      bool rotate = true);
  // A sequence whose first image was seen by an earlier run (a watch resumed): its shape
  // and orientation as that run found them, so that no image is decoded to learn them.
  [[nodiscard]] static base::Result<std::unique_ptr<ImageSequence>, base::Error> shaped(
      std::vector<std::string> files, int threads, bool rotate, PictureShape shape,
      int orientation);
  ~ImageSequence() override;
  // The first image's EXIF orientation (1 to 8; 1 when untagged or not turned).
  int orientation() const { return orientation_; }

  int width() const override { return shape_.width; }
  int height() const override { return shape_.height; }
  bool deep() const override { return shape_.deep; }
  const decode::DisplayMatrix& display() const override { return display_; }
  const ScanFrames& frames() const override { return frames_; }
  const std::vector<std::string>* image_files() const override { return &files_; }
  bool choose(FrameChoice choice) override;
  const AVFrame* next(int64_t& frame) override;
  const FrameStamp& stamp() const override { return stamp_; }
  bool broke_off() const override { return failure_.has_value(); }
  int read_error() const override { return 0; }
  int64_t damaged() const override { return damaged_; }
  std::string first_damaged() const override { return first_damaged_; }
  std::optional<std::string> failure() const override { return failure_; }
  std::vector<std::string> warnings() const override;
  std::vector<std::string> news() override { return std::exchange(news_, {}); }
  // JPEG images are then decoded only around `area`, with libjpeg-turbo, as MJPEG clips are.
  void read_only(Rect area) override;

  // A watched folder's: one image more at the end; next() hands it out in its turn.
  void append(std::string file);
  // The frame next() hands out next, once its image is there.
  int64_t next_wanted() const { return next_wanted_; }
  // An image of another size, or one that cannot be read or decoded, gives a black strip
  // (noted damaged, named in warnings()) and the run goes on: a camera's one odd image
  // must not end a night.
  void keep_going() { keep_going_ = true; }

 private:
  // What one thread decodes images with: the file's bytes, and libjpeg-turbo's decoder.
  struct Decoder {
    decode::PacketPtr packet = decode::new_packet();
    std::shared_ptr<JpegArea> jpeg;  // JPEG images around the area read, when one is set
  };
  // How an image fared: whole, decoded as far as its data goes (cut short), not read
  // (`error` says why), or not decoded at all.
  enum class Fate { whole, damaged, unreadable, undecoded };
  struct Decoded {
    decode::FramePtr picture;  // empty unless whole or damaged
    Fate fate = Fate::undecoded;
    int error = 0;
    int orientation = 1;  // EXIF's 1 to 8, 1 when untagged or not turned
  };
  // An image decoded ahead.
  using Ahead = std::future<Decoded>;
  // The images that fared one way: how many, the first, and why (for unreadable ones).
  struct Tally {
    int64_t count = 0;
    std::string first;
    int error = 0;
    void add(const std::string& file, int why);
  };

  explicit ImageSequence(std::vector<std::string> files);
  // `area`: what is read of each image, or null for all of it.
  Decoded decode_file(const std::string& path, Decoder& decoder, const Rect* area) const;
  // `picture` (its own orientation `orientation`) turned and laid as the first image is
  // stored, in RGB; null when its picture as shown has another size than the first's.
  decode::FramePtr laid_as_first(const AVFrame* picture, int orientation) const;
  // Decodes image `index` on a thread of its own with an idle decoder.
  Ahead decode_ahead(int64_t index);
  // Starts the chosen images up to `threads_` ahead of next_wanted_.
  void look_ahead();

  std::vector<std::string> files_;
  ScanFrames frames_;
  PictureShape shape_;
  decode::DisplayMatrix display_;
  std::optional<Rect> area_;  // set before the decoding threads start, not after
  FrameChoice choice_;
  int64_t next_wanted_ = 0;
  int threads_ = 1;
  std::mutex idle_mutex_;
  std::vector<std::shared_ptr<Decoder>> idle_;  // decoders no thread uses now
  std::deque<Ahead> ahead_;  // the chosen images from next_wanted_ on, in order
  int64_t ahead_end_ = 0;    // the frame after the last one started
  decode::FramePtr shown_ = decode::new_frame();  // the last good picture handed out
  decode::FramePtr black_;  // for images that do not decode before any that does
  int64_t damaged_ = 0;  // strips without a picture of their own
  std::string first_damaged_;
  Tally cut_short_, unreadable_, undecoded_, other_size_;
  std::vector<std::string> news_;  // a watched folder's odd images, not yet said
  bool keep_going_ = false;
  std::vector<long long> numbers_;
  bool rotate_ = true;
  int orientation_ = 1;  // the first image's
  std::optional<std::string> failure_;
  FrameStamp stamp_;
};

}  // namespace scan
