// SPDX-License-Identifier: GPL-3.0-or-later
#include "editions/velmora3_edition.h"

#include "composite/band_selection.h"
#include "editions/velmora3_composite.h"
#include "media/transport.h"
#include "window/application.h"
#include "window/form1.h"

namespace editions {

void velmora3_Cmd_End_Click(window::Form1&) { window::end_program(); }

Handlers velmora3_handlers() {
  Handlers handlers;
  // The shared play finds no back button on this window and so enables only the rewind.
  handlers.play = media::Command1_Click;
  handlers.exit_button = velmora3_Cmd_End_Click;
  handlers.build = velmora3_CmdGosei_Click;
  handlers.clear = velmora3_Command6_Click;
  handlers.press_x = composite::Picture4_MouseDown;
  handlers.press_y = composite::Picture5_MouseDown;
  return handlers;
}

}  // namespace editions
