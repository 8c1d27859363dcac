// SPDX-License-Identifier: GPL-3.0-or-later
#include "editions/velmora6_edition.h"

#include "composite/band_selection.h"
#include "composite/builder.h"
#include "composite/clear_and_back.h"
#include "media/open_close.h"
#include "media/transport.h"

namespace editions {

Handlers velmora6_handlers() {
  Handlers handlers;
  handlers.play = media::Command1_Click;
  handlers.exit_button = media::Cmd_End_Click;
  handlers.build = composite::CmdGosei_Click;
  handlers.clear = composite::Command6_Click;
  handlers.back = composite::Cmd_back_Click;
  handlers.press_x = composite::Picture4_MouseDown;
  handlers.press_y = composite::Picture5_MouseDown;
  return handlers;
}

}  // namespace editions
