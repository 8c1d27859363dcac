// SPDX-License-Identifier: GPL-3.0-or-later
// SIGINT, SIGTERM, SIGHUP (the terminal or the SSH session went away) and SIGQUIT only set
// a flag; the scan loop and the PNG writer look at it, so that the temporary file is
// removed before the program ends.
#pragma once

namespace scan {

void catch_interrupts();
// The signal that arrived, or 0.
int interrupt_signal();

// For inputs without a known length: from now on the first SIGINT or SIGTERM asks the run
// to finish its image (finish_signal()), and only a second one interrupts it. Blocking reads
// are then no longer restarted, so that a stalled pipe or network read sees the signal.
void finish_on_first_signal();
// The signal that asked the run to finish, or 0.
int finish_signal();

}  // namespace scan
