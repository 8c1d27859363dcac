// SPDX-License-Identifier: GPL-3.0-or-later
// What the auto-advance edition runs on its window.
#pragma once
#include "editions/wiring.h"

namespace editions {

Handlers velmora6_handlers();

}  // namespace editions
