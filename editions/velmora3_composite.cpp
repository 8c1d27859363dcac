// SPDX-License-Identifier: GPL-3.0-or-later
#include "editions/velmora3_composite.h"

#include <QPushButton>

#include "composite/band_copy.h"
#include "composite/clear_and_back.h"
#include "media/transport.h"
#include "window/form1.h"

namespace editions {

void velmora3_CmdGosei_Click(window::Form1& form) {
  form.set_enabled(form.CmdGosei, false);
  if (!composite::require_band(form)) return;
  media::Trans(form);
  // No full-composite test here: a strip beyond the edge draws nothing and still counts.
  composite::copy_band(form);
  composite::count_strip(form);
  form.set_enabled(form.CmdGosei, true);
}

void velmora3_Command6_Click(window::Form1& form) {
  // The captured frame stays, and with no step back there is no background picture.
  form.Picture3->clear();
  composite::forget_band(form);
}

}  // namespace editions
