// The window tables of the editions.
#pragma once
#include "window/layout.h"

namespace editions {

// The auto-advance edition: start-up sizes and centres the window.
window::Layout velmora6_layout();

}  // namespace editions
