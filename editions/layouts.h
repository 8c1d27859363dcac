// The window tables of the editions.
#pragma once
#include "window/layout.h"

namespace editions {

// The auto-advance edition: start-up sizes and centres the window.
window::Layout velmora6_layout();
// The manual-advance edition: the window keeps its laid-out size and place.
window::Layout velmora3_layout();

}  // namespace editions
