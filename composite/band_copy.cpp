// SPDX-License-Identifier: GPL-3.0-or-later
#include "composite/band_copy.h"

#include <QPushButton>
#include <QRadioButton>
#include <cstdint>

#include "service/surfaces.h"
#include "strips/strip_copy.h"
#include "window/form1.h"

namespace composite {
namespace {

template <class Pixel>
strips::Plane<Pixel> plane_of(const service::PixelBuffer& buffer) {
  return {buffer.pixels, buffer.width, buffer.height, buffer.stride};
}

}  // namespace

bool require_band(window::Form1& form) {
  if (form.state.click_state == window::kBandPicked) return true;
  form.show_message(no_band_message());
  form.set_enabled(form.CmdGosei, true);
  return false;
}

QString no_band_message() { return QStringLiteral("切り取り範囲をマウスでクリックしてください。"); }

bool copy_band(window::Form1& form) {
  const auto& state = form.state;
  const bool vertical = form.Option1->isChecked();
  const strips::Band band =
      vertical ? strips::Band{state.cut_x1, state.cut_x2} : strips::Band{state.cut_y1, state.cut_y2};
  const bool full = strips::copy_strip(plane_of<const uint32_t>(form.Picture2->pixels()),
                                       plane_of<uint32_t>(form.Picture3->pixels()),
                                       vertical ? strips::Cut::vertical : strips::Cut::horizontal,
                                       band, state.screen_count);
  form.Picture3->painted();
  return full;
}

void count_strip(window::Form1& form) {
  auto& count = form.state.screen_count;
  if (count < INT16_MAX) ++count;
}

}  // namespace composite
