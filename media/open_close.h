// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and closing the clip, and the ways out of the program.
#pragma once
#include "window/form1_fwd.h"

namespace media {

// The file menu's open: asks for a file, then closes any clip and opens the chosen one in
// Picture1. A cancelled choice beeps once and changes nothing.
void mnuopen_Click(window::Form1& form);
// The file menu's close: stops the position display and closes the clip.
void mnuclose_Click(window::Form1& form);
// The file menu's exit, also run when the window is closed: closes the clip and ends.
[[noreturn]] void mnuend_Click(window::Form1& form);
// The exit button: empties the clipboard and ends, leaving the clip to the service.
[[noreturn]] void Cmd_End_Click(window::Form1& form);

}  // namespace media
