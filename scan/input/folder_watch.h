// SPDX-License-Identifier: GPL-3.0-or-later
// A folder (or a glob of one folder's files) followed as a camera fills it: the images
// already there first, in the sequence's order, then each new one as it is closed after
// writing or moved in (inotify), so that a half-written file is never read. Its length is
// not known: the run ends as a stream's does, or when --until or --idle says so.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/result.h"
#include "scan/input/frame_source.h"
#include "scan/input/image_sequence.h"

namespace scan {

// A picture's clock as civil microseconds (see scan/time/timeline.h's WallTime), or none;
// the run hands it in, since clocks are read above this folder.
using ClockOf = std::function<std::optional<int64_t>(const std::string& path)>;

// Only images whose clock lies in [since, until) are taken (--since, --until); an image
// without a clock is left out when either is given.
struct ClockWindow {
  std::optional<int64_t> since, until;
  bool bounded() const { return since || until; }
  bool holds(std::optional<int64_t> clock) const {
    if (!bounded()) return true;
    return clock && (!since || *clock >= *since) && (!until || *clock < *until);
  }
};

// `files` without the images whose clock lies outside `window`.
std::vector<std::string> within(std::vector<std::string> files, const ClockWindow& window,
                                const ClockOf& clock);

// What an earlier run of the same watch took (its state file): those images are never
// listed, decoded or laid again, and the run goes on from there.
struct WatchResume {
  std::set<std::string> taken;  // the images' paths as the sequence named them
  PictureShape shape;           // the first image's, and its EXIF orientation
  int orientation = 1;
  std::optional<int64_t> first_clock, last_clock;  // of the strips taken
};

struct WatchRequest {
  std::string input;  // a folder, or a glob whose wildcards are in the file's name only
  ClockOf clock;
  ClockWindow window;
  double idle = 0;  // seconds without a new image that end the run; 0: none
  // This machine's clock now, as a ClockOf gives an image's: --until ends the run when it
  // passes.
  std::function<int64_t()> now;
  int threads = 1;
  bool rotate = true;
  std::optional<WatchResume> resume;
};

class FolderWatch : public FrameSource {
 public:
  // Starts watching before it lists, so that no image falls between the two. Waits for
  // the first image that decodes when none is there yet; `stop` ends that wait (an empty
  // source is then a failure as for a stream without a frame).
  [[nodiscard]] static base::Result<std::unique_ptr<FolderWatch>, base::Error> open(
      WatchRequest request, std::function<bool()> stop);
  ~FolderWatch() override;

  int width() const override { return images_->width(); }
  int height() const override { return images_->height(); }
  bool deep() const override { return images_->deep(); }
  const decode::DisplayMatrix& display() const override { return images_->display(); }
  bool length_known() const override { return false; }
  const ScanFrames& frames() const override { return images_->frames(); }
  void read_only(Rect area) override { images_->read_only(area); }
  bool choose(FrameChoice choice) override { return images_->choose(choice); }
  const AVFrame* next(int64_t& frame) override;
  const FrameStamp& stamp() const override { return stamp_; }
  bool broke_off() const override { return false; }
  int read_error() const override { return 0; }
  int64_t damaged() const override { return images_->damaged(); }
  std::string first_damaged() const override { return images_->first_damaged(); }
  std::optional<std::string> failure() const override { return failure_; }
  std::vector<std::string> warnings() const override;
  std::vector<std::string> news() override { return images_ ? images_->news() : std::vector<std::string>{}; }
  // The first image's EXIF orientation, for a state file that resumes the watch.
  int orientation() const { return images_->orientation(); }

 private:
  FolderWatch() = default;
  // Waits for new images and admits those in the window, in their clocks' order; false
  // when the run is to end here (stop, --until, --idle) or the folder is gone (failure_).
  bool wait_for_more();
  // The images named in the inotify events at hand, in arrival order.
  std::vector<std::string> arrived();
  bool admit(const std::string& path);

  WatchRequest request_;
  std::function<bool()> stop_;
  std::string folder_, pattern_;  // the folder watched; the glob's file part, or empty
  std::string prefix_;            // what comes before a file's name in the images' paths
  int inotify_ = -1;
  std::unique_ptr<ImageSequence> images_;
  std::set<std::string> known_;  // every image listed or announced: each is taken once
  std::vector<std::string> pending_;  // admitted before the sequence could open
  std::optional<int64_t> first_clock_, last_clock_;
  std::vector<std::optional<int64_t>> clocks_;  // of the sequence's images, in order
  int64_t taken_before_ = 0;  // strips an earlier run laid: the frames count on from there
  int64_t backwards_ = 0;
  std::string first_backwards_;
  std::optional<std::string> failure_;
  FrameStamp stamp_;
};

}  // namespace scan
