// SPDX-License-Identifier: GPL-3.0-or-later
// SIGINT, SIGTERM, SIGHUP (the terminal or the SSH session went away) and SIGQUIT only set
// a flag; the scan loop and the PNG writer look at it, so that the temporary file is
// removed before the program ends.
#pragma once

namespace scan {

void catch_interrupts();
// The signal that arrived, or 0.
int interrupt_signal();

}  // namespace scan
