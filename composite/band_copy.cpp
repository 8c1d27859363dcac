#include "composite/band_copy.h"

#include <QRadioButton>
#include <cstdint>

#include "composite/strip_copy.h"
#include "window/form1.h"

namespace composite {

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
