// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/slit/line_strips.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace scan {

bool runs_on_lines(const SlitRequest& r) {
  return r.line || r.slit.moving || r.reduce != Reducer::copy;
}

SlitRequest with_line_layout(SlitRequest r) {
  if (!runs_on_lines(r)) return r;
  if (r.line) r.cut = r.time_down ? strips::Cut::horizontal : strips::Cut::vertical;
  // A slit's WIDTH columns are its lines, as a line's thickness gives them; the slit's
  // width becomes that of the strip laid.
  if (!r.line) r.thickness = r.slit.width;
  r.slit.width = r.reduce == Reducer::copy ? r.thickness : 1;
  return r;
}

LineStrips::LineStrips(const SlitRequest& o, int width, int height, decode::Orientation orientation,
                       int64_t strips, int pixel_bytes)
    : shown_width_(orientation.swaps_sides() ? height : width),
      shown_height_(orientation.swaps_sides() ? width : height),
      strips_(strips),
      width_(width),
      height_(height),
      walk_(stored_walk(orientation, width, height)),
      reducer_(o.reduce),
      pixel_bytes_(pixel_bytes),
      sampler_(pixel_bytes) {}

base::Result<std::unique_ptr<LineStrips>, base::Error> LineStrips::make(
    const SlitRequest& o, int width, int height, decode::Orientation orientation, int64_t strips,
    int pixel_bytes) {
  std::unique_ptr<LineStrips> made(
      new LineStrips(o, width, height, orientation, strips, pixel_bytes));
  if (auto fits = made->place(o); !fits) return base::failure(fits.error());
  return made;
}

base::Result<void, base::Error> LineStrips::place(const SlitRequest& o) {
  if (!o.line) {
    // --slit: its WIDTH columns (rows) are the lines.
    slit_ = true;
    rows_ = o.cut == strips::Cut::horizontal;
    down_ = rows_;
    thickness_ = o.thickness;  // the slit's width, by with_line_layout
    const int64_t size = rows_ ? shown_height_ : shown_width_;
    const char* names = rows_ ? "rows" : "columns";
    const std::string what = o.slit.given ? o.slit.text : "--slit";
    slit_from_ = o.slit.given ? slit_line(o.slit.percent, o.slit.position, o.slit.fraction, size)
                              : size / 2;
    slit_to_ = o.slit.moving ? slit_line(o.slit.end_percent, o.slit.end_position,
                                             o.slit.end_fraction, size)
                             : slit_from_;
    for (int64_t first : {slit_from_, slit_to_})
      if (auto fits = slit_fits(what, first, thickness_, size, names); !fits) return fits;
    samples_ = rows_ ? shown_width_ : shown_height_;
  } else {
    const LineSpec& line = *o.line;
    down_ = o.time_down;
    thickness_ = o.thickness;
    auto from = place_path(line.from, shown_width_, shown_height_, line.text);
    if (!from) return base::failure(from.error());
    from_ = std::move(*from);
    if (!line.to.empty()) {
      auto to = place_path(line.to, shown_width_, shown_height_, line.text);
      if (!to) return base::failure(to.error());
      to_ = std::move(*to);
    }
    from_length_ = path_length(from_);
    samples_ = sample_count(from_);
    const std::string too_thick = line.text + ": with --thickness " + std::to_string(thickness_) +
                                  " the slit reaches past the frame (" +
                                  std::to_string(shown_width_) + " x " +
                                  std::to_string(shown_height_) + ")";
    // Wider than the frame's diagonal cannot fit; said before its places are made.
    if (thickness_ - 1 > std::hypot(shown_width_ - 1, shown_height_ - 1))
      return base::usage(too_thick);
    // A thick line may reach past the frame at either end of its move; in between its
    // places lie between those of the ends, or close enough to be taken at the edge.
    for (int64_t k : {int64_t{0}, strips_ - 1})
      for (const std::vector<Point>& places : shown_lines(k))
        for (const Point& p : places)
          if (p.x < -1e-6 || p.y < -1e-6 || p.x > shown_width_ - 1 + 1e-6 ||
              p.y > shown_height_ - 1 + 1e-6)
            return base::usage(too_thick);
  }
  laid_ = reducer_ == Reducer::copy ? thickness_ : 1;
  return {};
}

std::vector<std::vector<Point>> LineStrips::shown_lines(int64_t k) const {
  std::vector<std::vector<Point>> lines(static_cast<size_t>(thickness_));
  if (slit_) {
    const int64_t first = moving_position(slit_from_, slit_to_, k, strips_);
    for (int64_t j = 0; j < thickness_; ++j) {
      auto& places = lines[static_cast<size_t>(j)];
      for (int64_t i = 0; i < samples_; ++i)
        places.push_back(rows_ ? Point{double(i), double(first + j)}
                               : Point{double(first + j), double(i)});
    }
    return lines;
  }
  const double t = strips_ > 1 ? double(k) / double(strips_ - 1) : 0;
  const Path path = to_.empty() ? from_ : path_between(from_, to_, t);
  // Strip k's samples at the fractions of its own length that the first path's are of its.
  const double step = from_length_ > 0 ? path_length(path) / from_length_ : 0;
  const std::vector<Sample> samples = samples_at(path, even_distances(samples_, step));
  for (int64_t j = 0; j < thickness_; ++j)
    lines[static_cast<size_t>(j)] = parallel_line(samples, thickness_, j);
  return lines;
}

Rect LineStrips::stored_bounds() const {
  Rect shown;
  if (slit_) {
    const int64_t first = std::min(slit_from_, slit_to_);
    const int64_t end = std::max(slit_from_, slit_to_) + thickness_;
    shown = rows_ ? Rect{0, int(first), shown_width_, int(end - first)}
                  : Rect{int(first), 0, int(end - first), shown_height_};
  } else {
    // A moving path's points lie between its two ends' points, and every sample on a
    // segment between two points; the parallel lines lie within half the thickness of it,
    // and a sample reads the pixel centres around it.
    double x0 = shown_width_, y0 = shown_height_, x1 = 0, y1 = 0;
    for (const Path* path : {&from_, &to_})
      for (const Point& p : *path) {
        x0 = std::min(x0, p.x), y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
      }
    const double reach = double(thickness_ - 1) / 2 + 1;
    const int left = std::max(0, int(std::floor(x0 - reach)));
    const int top = std::max(0, int(std::floor(y0 - reach)));
    const int right = std::min(shown_width_, int(std::ceil(x1 + reach)) + 1);
    const int bottom = std::min(shown_height_, int(std::ceil(y1 + reach)) + 1);
    shown = Rect{left, top, right - left, bottom - top};
  }
  return stored_area(walk_, shown);
}

Converted LineStrips::strip(const AVFrame* frame, int64_t k) {
  const bool moving = slit_ ? slit_from_ != slit_to_ : !to_.empty();
  if (places_.empty() || moving) {
    // Sample by sample, the lines' places of one sample together: they need the same
    // pixels, converted once.
    const std::vector<std::vector<Point>> lines = shown_lines(k);
    places_.clear();
    for (int64_t i = 0; i < samples_; ++i)
      for (const std::vector<Point>& line : lines) {
        const Point& p = line[static_cast<size_t>(i)];
        places_.push_back({walk_.x0 + p.x * walk_.column_dx + p.y * walk_.row_dx,
                           walk_.y0 + p.x * walk_.column_dy + p.y * walk_.row_dy});
      }
  }
  const size_t line_bytes = static_cast<size_t>(samples_) * pixel_bytes_;
  sampled_.resize(line_bytes * static_cast<size_t>(thickness_));
  out_.resize(line_bytes * static_cast<size_t>(laid_));
  if (base::Status sampled = sampler_.sample(frame, width_, height_, places_, sampled_.data());
      !sampled)
    return base::failure(sampled.error());
  if (reducer_ != Reducer::copy) {
    reduce_lines(sampled_.data(), thickness_, samples_, pixel_bytes_, reducer_, out_.data());
  } else if (!down_) {
    out_.swap(sampled_);  // sample i is row i, line j column j
  } else {
    for (int64_t i = 0; i < samples_; ++i)  // line j is row j
      for (int64_t j = 0; j < laid_; ++j)
        std::memcpy(&out_[static_cast<size_t>(j) * line_bytes + i * pixel_bytes_],
                    &sampled_[static_cast<size_t>(i * laid_ + j) * pixel_bytes_],
                    static_cast<size_t>(pixel_bytes_));
  }
  RgbView view;
  view.bytes = out_.data();
  view.pixel_bytes = pixel_bytes_;
  view.width = static_cast<int>(down_ ? samples_ : laid_);
  view.height = static_cast<int>(down_ ? laid_ : samples_);
  view.stride = static_cast<ptrdiff_t>(view.width) * pixel_bytes_;
  return view;
}

}  // namespace scan
