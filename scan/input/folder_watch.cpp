// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/folder_watch.h"

#include <fnmatch.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <utility>

#include "scan/input/image_list.h"

namespace scan {
namespace {

// How long one wait for inotify lasts before the stop, --until and --idle are asked again.
constexpr int poll_millis = 100;

}  // namespace

std::vector<std::string> within(std::vector<std::string> files, const ClockWindow& window,
                                const ClockOf& clock) {
  if (!window.bounded()) return files;
  std::erase_if(files, [&](const std::string& f) { return !window.holds(clock(f)); });
  return files;
}

base::Result<std::unique_ptr<FolderWatch>, base::Error> FolderWatch::open(
    WatchRequest request, std::function<bool()> stop) {
  std::unique_ptr<FolderWatch> watch(new FolderWatch());
  const SequenceKind kind = sequence_kind(request.input);
  if (kind == SequenceKind::folder) {
    watch->folder_ = request.input;
    watch->prefix_ = request.input.ends_with('/') ? request.input : request.input + "/";
  } else if (kind == SequenceKind::glob) {
    const size_t slash = request.input.rfind('/');
    // Names as the listing spells them: with the pattern's own folder part, if any.
    watch->prefix_ = slash == std::string::npos ? "" : request.input.substr(0, slash + 1);
    watch->folder_ = slash == std::string::npos ? "." : watch->prefix_;
    watch->pattern_ = slash == std::string::npos ? request.input : request.input.substr(slash + 1);
    if (watch->folder_.find_first_of("*?[") != std::string::npos)
      return base::failed(request.input + ": --watch follows one folder; the wildcards must be "
                                          "in the file's name");
  } else {
    return base::failed(request.input + ": --watch needs a folder or a glob pattern of one "
                                        "folder's images");
  }
  watch->inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch->inotify_ < 0 ||
      inotify_add_watch(watch->inotify_, watch->folder_.c_str(),
                        IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                            IN_ONLYDIR) < 0)
    return base::failed(watch->folder_ + ": cannot be watched: " + std::strerror(errno));
  watch->request_ = std::move(request);
  watch->stop_ = std::move(stop);
  // The images there now, in the sequence's order; an empty folder waits for its first.
  std::vector<std::string> there;
  if (auto listed = list_images(watch->request_.input, kind)) there = std::move(*listed);
  const std::optional<WatchResume>& resume = watch->request_.resume;
  if (resume) {
    std::erase_if(there, [&](const std::string& f) { return resume->taken.contains(f); });
    watch->known_ = resume->taken;
    watch->first_clock_ = resume->first_clock;
    watch->last_clock_ = resume->last_clock;
    watch->taken_before_ = static_cast<int64_t>(resume->taken.size());
  }
  watch->known_.insert(there.begin(), there.end());
  for (const std::string& file : within(std::move(there), watch->request_.window,
                                        watch->request_.clock)) {
    // Those that came while no run watched follow the strips taken, as if watched; older
    // ones were taken or left out before (an earlier period's, with --split-at).
    if (resume) {
      const std::optional<int64_t> clock = watch->request_.clock(file);
      if (!clock || !resume->last_clock || *clock >= *resume->last_clock) watch->admit(file);
      continue;
    }
    const std::optional<int64_t> clock = watch->request_.clock(file);
    if (clock && (!watch->last_clock_ || *clock > *watch->last_clock_)) watch->last_clock_ = clock;
    watch->pending_.push_back(file);
  }
  if (resume) {
    auto shaped = ImageSequence::shaped(watch->pending_, watch->request_.threads,
                                        watch->request_.rotate, resume->shape, resume->orientation);
    if (!shaped) return base::failure(shaped.error());
    watch->images_ = std::move(*shaped);
    watch->images_->keep_going();
    for (const std::string& file : watch->pending_)
      watch->clocks_.push_back(watch->request_.clock(file));
    watch->pending_.clear();
    return watch;
  }
  while (!watch->pending_.empty() || watch->wait_for_more()) {
    if (watch->pending_.empty()) continue;
    auto opened = ImageSequence::open(watch->pending_, watch->request_.threads, {},
                                      watch->request_.rotate);
    if (!opened) {
      if (watch->wait_for_more()) continue;
      break;
    }
    watch->images_ = std::move(*opened);
    watch->images_->keep_going();
    for (const std::string& file : watch->pending_)
      watch->clocks_.push_back(watch->request_.clock(file));
    watch->pending_.clear();
    return watch;
  }
  if (watch->failure_) return base::failed(*watch->failure_);
  return base::failed(watch->request_.input + ": no image came that decodes");
}

FolderWatch::~FolderWatch() {
  images_.reset();
  if (inotify_ >= 0) close(inotify_);
}

std::vector<std::string> FolderWatch::arrived() {
  std::vector<std::string> names;
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t got = read(inotify_, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
        failure_ = folder_ + ": the folder watched is gone; the image holds the strips before";
        continue;
      }
      if (event->mask & IN_Q_OVERFLOW) {
        // Events were lost: the folder's listing says what came meanwhile.
        if (auto listed = list_images(request_.input, sequence_kind(request_.input)))
          for (const std::string& file : *listed)
            if (!known_.contains(file)) names.push_back(file);
        continue;
      }
      if (event->len == 0 || (event->mask & IN_ISDIR)) continue;
      const std::string name = event->name;
      const bool wanted = pattern_.empty() ? image_extension(name)
                                           : fnmatch(pattern_.c_str(), name.c_str(), FNM_PERIOD) == 0;
      if (!wanted) continue;
      names.push_back(prefix_ + name);
    }
  }
  return names;
}

bool FolderWatch::admit(const std::string& path) {
  const std::optional<int64_t> clock = request_.clock(path);
  if (!request_.window.holds(clock)) return false;
  // Strips stay in clock order: an image older than the last one laid is left out.
  if (clock && last_clock_ && *clock < *last_clock_) {
    if (backwards_++ == 0) first_backwards_ = path;
    return false;
  }
  if (clock) last_clock_ = clock;
  pending_.push_back(path);
  return true;
}

bool FolderWatch::wait_for_more() {
  const auto since = std::chrono::steady_clock::now();
  for (;;) {
    if (stop_ && stop_()) return false;
    if (request_.window.until && request_.now && request_.now() >= *request_.window.until)
      return false;
    if (request_.idle > 0 &&
        std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count() >=
            request_.idle)
      return false;
    pollfd ready{inotify_, POLLIN, 0};
    if (poll(&ready, 1, poll_millis) <= 0) continue;
    std::vector<std::string> names = arrived();
    if (failure_) return false;
    // Those that came together, in their clocks' order (untimed ones keep their place
    // after the timed).
    std::vector<std::pair<std::optional<int64_t>, std::string>> batch;
    for (std::string& name : names)
      if (known_.insert(name).second) batch.emplace_back(request_.clock(name), std::move(name));
    std::stable_sort(batch.begin(), batch.end(), [](const auto& a, const auto& b) {
      return a.first.has_value() && (!b.first.has_value() || *a.first < *b.first);
    });
    bool any = false;
    for (const auto& [clock, name] : batch) any = admit(name) || any;
    if (any) return true;
  }
}

const AVFrame* FolderWatch::next(int64_t& frame) {
  if (failure_) return nullptr;
  while (images_->next_wanted() >= static_cast<int64_t>(clocks_.size())) {
    if (pending_.empty() && !wait_for_more()) return nullptr;
    for (std::string& file : pending_) {
      clocks_.push_back(request_.clock(file));
      images_->append(std::move(file));
    }
    pending_.clear();
  }
  const AVFrame* picture = images_->next(frame);
  if (picture == nullptr) return nullptr;
  stamp_ = images_->stamp();
  // An image's time is its clock's from the first image's, when they have clocks.
  const std::optional<int64_t>& clock = clocks_[static_cast<size_t>(frame)];
  if (clock && !first_clock_) first_clock_ = clock;
  frame += taken_before_;
  stamp_.frame = frame;
  stamp_.seconds = clock ? static_cast<double>(*clock - *first_clock_) / 1e6
                         : static_cast<double>(frame) / sequence_fps;
  return picture;
}

std::vector<std::string> FolderWatch::warnings() const {
  std::vector<std::string> said = images_->warnings();
  if (backwards_ > 0)
    said.push_back(std::to_string(backwards_) + " image(s) older than the strip before, the "
                   "first " + first_backwards_ + "; left out (strips stay in clock order)");
  return said;
}

}  // namespace scan
