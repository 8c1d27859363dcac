// SPDX-License-Identifier: GPL-3.0-or-later
// The body both programs' mains share: one window, started, shown, left to its handlers.
#pragma once
#include "editions/wiring.h"
#include "window/layout.h"

namespace editions {

int run_program(int argc, char** argv, window::Layout (*layout)(), Handlers (*handlers)());

}  // namespace editions
