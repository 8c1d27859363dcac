// SPDX-License-Identifier: GPL-3.0-or-later
// The manual-advance edition's composite buttons: one strip per press, from the frame the
// clip stands on, and its own clear. Its play is media::Command1_Click, which finds no
// step-back button to enable.
#pragma once
#include "window/form1_fwd.h"

namespace editions {

// CmdGosei: one strip from the current frame; never yields, always ends enabled.
void velmora3_CmdGosei_Click(window::Form1& form);
// Command6: clears the composite and the band; the captured frame stays.
void velmora3_Command6_Click(window::Form1& form);

}  // namespace editions
