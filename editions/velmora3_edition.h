// SPDX-License-Identifier: GPL-3.0-or-later
// What the manual-advance edition runs on its window.
#pragma once
#include "editions/wiring.h"

namespace editions {

Handlers velmora3_handlers();

// The exit button: ends at once. It closes nothing and leaves the clipboard alone, since
// this edition never puts anything there.
[[noreturn]] void velmora3_Cmd_End_Click(window::Form1& form);

}  // namespace editions
