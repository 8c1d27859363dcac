// SPDX-License-Identifier: GPL-3.0-or-later
// Connects the window's control events to their handlers. The editions share the table
// and replace the few handlers in which they differ.
#pragma once
#include <functional>

#include "window/form1_fwd.h"

namespace editions {

using Handler = std::function<void(window::Form1&)>;
using PressHandler = std::function<void(window::Form1&, double)>;

struct Handlers {
  Handler play;          // Command1
  Handler exit_button;   // Cmd_End
  Handler build;         // CmdGosei
  Handler clear;         // Command6
  Handler back;          // Cmd_back, where the edition has it
  PressHandler press_x;  // Picture4, the press's x
  PressHandler press_y;  // Picture5, the press's y
};

// The handlers every edition shares: the menu, window close, the transport, the scroll
// bar and the timer. Empty entries of `handlers` leave their control unconnected.
void wire(window::Form1& form, const Handlers& handlers);

}  // namespace editions
