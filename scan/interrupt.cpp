// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/interrupt.h"

#include <csignal>
#include <initializer_list>

namespace scan {
namespace {

volatile std::sig_atomic_t arrived = 0;

extern "C" void note_signal(int signal) { arrived = signal; }

}  // namespace

void catch_interrupts() {
  struct sigaction action {};
  action.sa_handler = note_signal;
  // Reads and writes go on; the flag is looked at between strips and between rows.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    // One ignored by whoever started the run (nohup, a background job) stays ignored.
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

int interrupt_signal() { return arrived; }

}  // namespace scan
