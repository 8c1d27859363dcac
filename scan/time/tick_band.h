// SPDX-License-Identifier: GPL-3.0-or-later
// The band of tick marks and time labels beside the streak image (--ticks): below it when
// the strips run left to right, right of it when they run top to bottom. White marks and
// text on black, drawn with FreeType in a face fontconfig picks.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "scan/time/time_axis.h"
#include "scan/time/timeline.h"
#include "strips/exact_strips.h"

// FreeType's handles, declared here so that users of the band need not see its headers.
struct FT_LibraryRec_;
struct FT_FaceRec_;

namespace scan {

struct BandLayout {
  bool along_width = true;  // the time axis runs along the band's width (a band below)
  int font_pixels = 12;
  int64_t thickness = 0;    // rows (a band below) or columns (a band to the right)
  double label_gap = 0;     // pixels at least between two labels along the axis
};

// The band for an image whose side across the time axis is `across` pixels.
BandLayout band_layout(bool along_width, int64_t across);

// The labels' face (fontconfig's choice) at the band's size, opened once for measuring
// and drawing.
class TickFont {
 public:
  static base::Result<TickFont, base::Error> open(int pixels);
  // Pixels `label` takes along the axis: its advance below the image, its line's height
  // beside it.
  double extent(const std::string& label, bool along_width) const;
  FT_FaceRec_* face() const { return face_.get(); }

 private:
  struct FreeLibrary {
    void operator()(FT_LibraryRec_* library) const;
  };
  struct FreeFace {
    void operator()(FT_FaceRec_* face) const;
  };
  std::unique_ptr<FT_LibraryRec_, FreeLibrary> library_;
  std::unique_ptr<FT_FaceRec_, FreeFace> face_;  // after library_: freed before it
  std::array<double, 128> advance_{};  // of the labels' characters, in pixels
  double line_ = 0;                    // ascent and descent
};

// Draws `ticks` into `band` (packed RGB, `pixel_bytes` 3 or 6; the band is cleared to black
// first): a mark centred on each tick and its label, placed by label_start.
void draw_tick_band(const strips::BytePlane& band, int pixel_bytes, const BandLayout& layout,
                    const TickFont& font, const std::vector<Tick>& ticks);

// The band of a whole image, drawn once before the first strip from every strip's record
// (each strip's time is known from the input's index); each strip takes its share of it.
class TimeBand {
 public:
  // `vertical`: the strips run left to right and the band lies below them, `streak_across`
  // pixels being the streak image's side across the time axis; each strip is
  // `strip_lines` columns (rows) of `pixel_bytes`. The band's marks run along the strips'
  // clocks when any has one, else along their seconds. `image` names the image in a
  // message.
  static base::Result<TimeBand, base::Error> draw(const std::vector<StripRecord>& records,
                                                  bool vertical, int64_t streak_across,
                                                  int64_t strip_lines, int pixel_bytes,
                                                  const std::string& image);
  // Whether a mark fell on the image: none when no whole second of the times lies on it.
  bool marked() const { return marked_; }
  // Strip k's share of the band into `strip`, a one-strip image whose streak part comes
  // first and the band's share after it (below, or to the right).
  void lay(int64_t k, const strips::BytePlane& strip) const;

 private:
  bool vertical_ = true;
  int64_t thickness_ = 0, strip_lines_ = 1, stride_ = 0;
  int pixel_bytes_ = 3;
  std::vector<uint8_t> pixels_;  // the whole band, rows `stride_` apart
  bool marked_ = false;
};

}  // namespace scan
