// SPDX-License-Identifier: GPL-3.0-or-later
// The steps both editions take for one strip: a band must be picked, the frame is captured
// (media::Trans), then the band is copied and counted.
#pragma once
#include <QString>

#include "window/form1_fwd.h"

namespace composite {

// True when a complete band is picked; otherwise shows no_band_message() and turns
// CmdGosei, which the press turned off, on again.
bool require_band(window::Form1& form);

// Shown when a strip is due and no complete band is picked.
QString no_band_message();

// Copies the band of the direction now selected from Picture2 into Picture3 as strip
// number screen_count. True when the strip reached the composite's far edge.
bool copy_band(window::Form1& form);

// screen_count plus one, held at 32767: a band of width 0 never fills the composite.
void count_strip(window::Form1& form);

}  // namespace composite
