// SPDX-License-Identifier: GPL-3.0-or-later
// The composite run of the auto-advance edition: strip after strip until the composite is
// full or the band is no longer complete.
#pragma once
#include "window/form1_fwd.h"

namespace composite {

// Click on CmdGosei. Returns when the run ends; yields to the event loop once per strip.
void CmdGosei_Click(window::Form1& form);

}  // namespace composite
