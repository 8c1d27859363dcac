// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/time/tick_band.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstring>

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

}  // namespace scan
