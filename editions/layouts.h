// SPDX-License-Identifier: GPL-3.0-or-later
// The window tables of the editions.
#pragma once
#include "window/layout.h"

namespace editions {

// The auto-advance edition: start-up sizes and centres the window.
window::Layout velmora6_layout();
// The manual-advance edition: the window keeps the size its table gives it and the place
// the window system chooses.
window::Layout velmora3_layout();

}  // namespace editions
