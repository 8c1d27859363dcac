#include "editions/velmora3_composite.h"

#include <QPushButton>

#include "composite/band_copy.h"
#include "composite/builder.h"
#include "media/transport.h"
#include "window/form1.h"
#include "window/seams.h"

namespace editions {

void velmora3_CmdGosei_Click(window::Form1& form) {
  form.set_enabled(form.CmdGosei, false);
  if (form.state.click_state != 2) {
    if (auto& box = window::seams().message_box) {
      box(composite::no_band_message(), window::kStyleOkOnly, form.app_title());
    }
    form.set_enabled(form.CmdGosei, true);
    return;
  }
  media::Trans(form);
  // No full-composite test here: a strip beyond the edge draws nothing and still counts.
  composite::copy_band(form);
  composite::count_strip(form);
  form.set_enabled(form.CmdGosei, true);
}

void velmora3_Command6_Click(window::Form1& form) {
  form.Picture3->clear();
  form.Picture4->clear();
  form.Picture5->clear();
  form.state.click_state = 0;
  form.set_enabled(form.CmdGosei, true);
  form.state.screen_count = 0;
}

}  // namespace editions
