// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/time/tick_band.h"

#include "base/text.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace scan {
namespace {

struct FcPatternFree {
  void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
struct FcConfigFree {
  void operator()(FcConfig* config) const { FcConfigDestroy(config); }
};

// The window programs' face (it has Japanese too); fontconfig falls back to the closest
// sans face the system has when it is missing.
base::Result<std::string, base::Error> look_up_font() {
  std::unique_ptr<FcConfig, FcConfigFree> config(FcInitLoadConfigAndFonts());
  if (!config) return base::failed("fontconfig cannot load its configuration");
  std::unique_ptr<FcPattern, FcPatternFree> wanted(
      FcNameParse(reinterpret_cast<const FcChar8*>("IPAGothic,sans-serif")));
  if (!wanted) return base::failed("fontconfig cannot parse a font name");
  FcConfigSubstitute(config.get(), wanted.get(), FcMatchPattern);
  FcDefaultSubstitute(wanted.get());
  FcResult result = FcResultNoMatch;
  std::unique_ptr<FcPattern, FcPatternFree> found(
      FcFontMatch(config.get(), wanted.get(), &result));
  FcChar8* file = nullptr;
  if (!found || FcPatternGetString(found.get(), FC_FILE, 0, &file) != FcResultMatch ||
      file == nullptr)
    return base::failed("no font found for the tick labels (fontconfig)");
  return std::string(reinterpret_cast<const char*>(file));
}

// Looked up once a process: fontconfig takes a good part of a second to load its
// configuration, and several slits draw a band each.
base::Result<std::string, base::Error> font_file() {
  static const base::Result<std::string, base::Error> found = look_up_font();
  return found;
}

// Pixel (x, y) set to white at `coverage` (0..255) over what is there.
void blend(const strips::BytePlane& band, int pixel_bytes, int64_t x, int64_t y, int coverage) {
  const int64_t width = band.width / pixel_bytes;
  if (x < 0 || y < 0 || x >= width || y >= band.height || coverage <= 0) return;
  uint8_t* p = band.pixels + y * band.stride + x * pixel_bytes;
  if (pixel_bytes == 3) {
    for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(std::max<int>(p[c], coverage));
    return;
  }
  // 16-bit PNG samples are big-endian in the image as it is written.
  const int value = coverage * 257;
  for (int c = 0; c < 3; ++c) {
    const int old = (p[2 * c] << 8) | p[2 * c + 1];
    const int v = std::max(old, value);
    p[2 * c] = static_cast<uint8_t>(v >> 8);
    p[2 * c + 1] = static_cast<uint8_t>(v & 0xff);
  }
}

void draw_text(const strips::BytePlane& band, int pixel_bytes, FT_Face face,
               const std::string& text, int64_t x, int64_t baseline) {
  for (char c : text) {
    if (FT_Load_Char(face, static_cast<unsigned char>(c), FT_LOAD_RENDER) != 0) continue;
    const FT_GlyphSlot g = face->glyph;
    const FT_Bitmap& bitmap = g->bitmap;
    for (unsigned row = 0; row < bitmap.rows; ++row)
      for (unsigned col = 0; col < bitmap.width; ++col)
        blend(band, pixel_bytes, x + g->bitmap_left + col, baseline - g->bitmap_top + row,
              bitmap.buffer[row * bitmap.pitch + col]);
    x += g->advance.x >> 6;
  }
}

}  // namespace

void TickFont::FreeLibrary::operator()(FT_LibraryRec_* library) const {
  FT_Done_FreeType(library);
}
void TickFont::FreeFace::operator()(FT_FaceRec_* face) const { FT_Done_Face(face); }

base::Result<TickFont, base::Error> TickFont::open(int pixels) {
  auto file = font_file();
  if (!file) return base::failure(file.error());
  TickFont font;
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) return base::failed("FreeType cannot start");
  font.library_.reset(library);
  FT_Face face = nullptr;
  if (FT_New_Face(library, file->c_str(), 0, &face) != 0)
    return base::failed(*file + ": FreeType cannot read this font");
  font.face_.reset(face);
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) != 0)
    return base::failed(*file + ": FreeType cannot size this font");
  // Labels are digits, colons and a minus: their advances, measured once.
  for (char c : std::string("-0123456789:"))
    if (FT_Load_Char(face, static_cast<FT_ULong>(c), FT_LOAD_DEFAULT) == 0)
      font.advance_[static_cast<size_t>(c)] = static_cast<double>(face->glyph->advance.x >> 6);
  font.line_ = static_cast<double>((face->size->metrics.ascender - face->size->metrics.descender) >> 6);
  return font;
}

double TickFont::extent(const std::string& label, bool along_width) const {
  if (!along_width) return line_;
  double width = 0;
  for (char c : label) width += advance_[static_cast<unsigned char>(c) & 127];
  return width;
}

BandLayout band_layout(bool along_width, int64_t across) {
  BandLayout layout;
  layout.along_width = along_width;
  layout.font_pixels = static_cast<int>(std::clamp<int64_t>(across / 24, 12, 96));
  const int f = layout.font_pixels;
  // Below: a tick, a gap and a line of text. Right: a tick, a gap and "00:00:00" beside it.
  layout.thickness = along_width ? f * 5 / 2 : f * 6;
  layout.label_gap = f / 2.0;
  return layout;
}

void draw_tick_band(const strips::BytePlane& band, int pixel_bytes, const BandLayout& layout,
                    const TickFont& font, const std::vector<Tick>& ticks) {
  for (int64_t y = 0; y < band.height; ++y) std::memset(band.pixels + y * band.stride, 0, band.width);
  FT_Face face = font.face();
  const int f = layout.font_pixels;
  const int64_t tick_length = f / 2 + 2;
  const int64_t line = std::max(1, f / 12);
  const int64_t width = band.width / pixel_bytes;
  const double length = static_cast<double>(layout.along_width ? width : band.height);
  const auto ascent = static_cast<int64_t>(face->size->metrics.ascender >> 6);
  for (const Tick& tick : ticks) {
    // The mark's middle line is the tick's pixel.
    const auto at = static_cast<int64_t>(std::floor(tick.position)) - (line - 1) / 2;
    const double extent = font.extent(tick.label, layout.along_width);
    const auto start =
        static_cast<int64_t>(std::floor(label_start(tick.position, extent, length)));
    if (layout.along_width) {
      for (int64_t y = 0; y < tick_length; ++y)
        for (int64_t d = 0; d < line; ++d) blend(band, pixel_bytes, at + d, y, 255);
      draw_text(band, pixel_bytes, face, tick.label, start, tick_length + f / 4 + ascent);
    } else {
      for (int64_t x = 0; x < tick_length; ++x)
        for (int64_t d = 0; d < line; ++d) blend(band, pixel_bytes, x, at + d, 255);
      draw_text(band, pixel_bytes, face, tick.label, tick_length + f / 4, start + ascent);
    }
  }
}

namespace {

// Strips without a time (images without the run's clock) take one on the axis between
// their neighbours', in proportion to their places, so that the ticks run on across them.
void fill_untimed(std::vector<double>& values) {
  const auto n = static_cast<int64_t>(values.size());
  int64_t before = -1;
  for (int64_t k = 0; k <= n; ++k) {
    if (k < n && std::isnan(values[k])) continue;
    for (int64_t j = before + 1; j < k; ++j) {
      if (before < 0 && k == n) break;
      if (before < 0) values[j] = values[k];
      else if (k == n) values[j] = values[before];
      else values[j] = values[before] + (values[k] - values[before]) *
                                            static_cast<double>(j - before) /
                                            static_cast<double>(k - before);
    }
    before = k;
  }
}

}  // namespace

base::Result<TimeBand, base::Error> TimeBand::draw(const std::vector<StripRecord>& records,
                                                   bool vertical, int64_t streak_across,
                                                   int64_t strip_lines, int pixel_bytes,
                                                   const std::string& image) {
  const BandLayout layout = band_layout(vertical, streak_across);
  TickAxis axis;
  axis.strip_pixels = static_cast<double>(strip_lines);
  axis.wall_clock = std::any_of(records.begin(), records.end(),
                                [](const StripRecord& r) { return r.clock.has_value(); });
  for (const StripRecord& r : records) {
    const std::optional<double> value =
        axis.wall_clock ? (r.clock ? std::optional<double>(static_cast<double>(r.clock->civil_micros) / 1e6)
                                   : std::nullopt)
                        : r.seconds;
    axis.values.push_back(value.value_or(std::nan("")));
  }
  fill_untimed(axis.values);
  TimeBand band;
  band.vertical_ = vertical;
  band.thickness_ = layout.thickness;
  band.strip_lines_ = strip_lines;
  band.pixel_bytes_ = pixel_bytes;
  const int64_t along = static_cast<int64_t>(records.size()) * strip_lines;
  const int64_t width = vertical ? along : layout.thickness;
  const int64_t height = vertical ? layout.thickness : along;
  band.stride_ = width * pixel_bytes;
  const double bytes = static_cast<double>(band.stride_) * static_cast<double>(height);
  try {
    band.pixels_.assign(static_cast<size_t>(band.stride_ * height), 0);
  } catch (const std::bad_alloc&) {
    return base::failed(image + ": not enough memory for the band of time marks of " +
                        base::human_bytes(bytes));
  }
  auto font = TickFont::open(layout.font_pixels);
  if (!font) return base::failure(font.error().within("--ticks: "));
  const std::vector<Tick> ticks = make_ticks(
      axis, [&](const std::string& label) { return font->extent(label, vertical); },
      layout.label_gap);
  draw_tick_band(strips::BytePlane{band.pixels_.data(), band.stride_, height, band.stride_},
                 pixel_bytes, layout, *font, ticks);
  band.marked_ = !ticks.empty();
  return band;
}

void TimeBand::lay(int64_t k, const strips::BytePlane& strip) const {
  const int64_t lines = strip_lines_;
  if (vertical_) {
    const int64_t streak_rows = strip.height - thickness_;
    for (int64_t y = 0; y < thickness_; ++y)
      std::copy_n(pixels_.data() + y * stride_ + k * lines * pixel_bytes_, lines * pixel_bytes_,
                  strip.pixels + (streak_rows + y) * strip.stride);
  } else {
    const int64_t streak_bytes = strip.width - stride_;
    for (int64_t y = 0; y < lines; ++y)
      std::copy_n(pixels_.data() + (k * lines + y) * stride_, stride_,
                  strip.pixels + y * strip.stride + streak_bytes);
  }
}

}  // namespace scan
