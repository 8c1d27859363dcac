#include "composite/band_copy.h"

#include <QPushButton>
#include <QRadioButton>
#include <cstdint>

#include "composite/strip_copy.h"
#include "window/form1.h"

namespace composite {

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
  const Band band = vertical ? Band{state.cut_x1, state.cut_x2} : Band{state.cut_y1, state.cut_y2};
  const bool full =
      copy_strip(form.Picture2->pixels(), form.Picture3->pixels(),
                 vertical ? Cut::vertical : Cut::horizontal, band, state.screen_count);
  form.Picture3->painted();
  return full;
}

void count_strip(window::Form1& form) {
  auto& count = form.state.screen_count;
  if (count < INT16_MAX) ++count;
}

}  // namespace composite
