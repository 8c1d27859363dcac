// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/state_keeper.h"

#include <sys/stat.h>

namespace scan {

base::Status StateKeeper::load(
    const std::function<std::string(const std::optional<int64_t>&)>& output_of) {
  auto read = read_state(path_);
  if (!read) return base::failure(read.error().within(path_ + ": "));
  if (!*read) return {};
  const std::string output = output_of((*read)->period);
  if (struct stat st {}; output.empty() || stat(output.c_str(), &st) != 0) return {};
  if (const std::string differ = settings_differ((*read)->settings, settings_); !differ.empty())
    return base::failed(path_ + ": kept by another command (" + differ +
                        "); run that one, or remove OUTPUT and this file to start anew");
  resumed_ = std::move(**read);
  return {};
}

base::Status StateKeeper::start(const ImageSize& strip, int64_t strip_lines, ClockSource clock,
                                const PictureShape& shape, int orientation,
                                std::optional<int64_t> period) {
  records_.emplace(strip_lines, std::vector<StripRecord>{}, clock);
  if (resumed_) {
    if (resumed_->strip.width != strip.width || resumed_->strip.height != strip.height ||
        resumed_->strip.pixel_bytes != strip.pixel_bytes)
      return base::failed(path_ +
                          ": its strips are not this run's; remove OUTPUT and "
                          "this file to start anew");
    state_ = *resumed_;
    stated_ = static_cast<int64_t>(state_->records.size());
    return {};
  }
  state_.emplace();
  state_->settings = settings_;
  state_->period = period;
  state_->shape = shape;
  state_->orientation = orientation;
  state_->strip = strip;
  return {};
}

base::Status StateKeeper::restore(StripImage& image, SinkSet& sinks) {
  if (!resumed_ || !state_) return {};
  for (size_t k = 0; k < resumed_->records.size(); ++k) {
    resumed_->lay(k, image);
    const StripRecord& r = resumed_->records[k];
    const FrameStamp stamp{r.frame, r.seconds.value_or(0), resumed_->paths[k], false, false};
    const std::optional<StripNote> note =
        r.note == StripNote::none ? std::nullopt : std::optional<StripNote>(r.note);
    const Laid laid{static_cast<int64_t>(k), image, &stamp, note, std::nullopt, &r};
    if (base::Status taken = sinks.take(laid); !taken) return taken;
    records_->take(laid);
  }
  return {};
}

int64_t StateKeeper::restored() const {
  return state_ && resumed_ ? static_cast<int64_t>(resumed_->records.size()) : 0;
}

base::Status StateKeeper::keep(const Laid& laid, int64_t in_output) {
  if (!state_) return {};
  records_->take(laid);
  state_->add(records_->records().back(), laid.stamp ? laid.stamp->file : "", laid.strip);
  if (in_output > stated_) return write(in_output);
  return {};
}

base::Status StateKeeper::landed(int64_t strips) {
  if (state_ && stated_ < strips) return write(strips);
  return {};
}

void StateKeeper::reset() {
  resumed_.reset();
  state_.reset();
  records_.reset();
  stated_ = 0;
}

base::Status StateKeeper::write(int64_t strips) {
  // Only the strips OUTPUT was written with.
  WatchState written = *state_;
  written.records.resize(static_cast<size_t>(strips));
  written.paths.resize(static_cast<size_t>(strips));
  written.pixels.resize(static_cast<size_t>(strips * written.strip.bytes()));
  if (base::Status ok = write_state(path_, written); !ok) return ok;
  stated_ = strips;
  return {};
}

}  // namespace scan
