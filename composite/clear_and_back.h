// SPDX-License-Identifier: GPL-3.0-or-later
// Clearing the composite and stepping it back by one strip (auto-advance edition), and
// the part of a clear both editions share.
#pragma once
#include "window/form1_fwd.h"

namespace composite {

// Click on Command6: a white composite without background picture, no band, no strips.
void Command6_Click(window::Form1& form);

// What either edition's clear does after the composite: the pick strips' marks and the
// band go, no strip is counted, and CmdGosei is on again.
void forget_band(window::Form1& form);

// Click on Cmd_back: the clipboard's snapshot becomes the composite's background picture
// and the next strip goes where the last one was. Without a picture on the clipboard, or
// with one strip or none, nothing changes.
void Cmd_back_Click(window::Form1& form);

}  // namespace composite
