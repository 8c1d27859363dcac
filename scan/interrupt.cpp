// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/interrupt.h"

#include <csignal>
#include <initializer_list>

namespace scan {
namespace {

volatile std::sig_atomic_t arrived = 0;
volatile std::sig_atomic_t finishing = 0;  // the first SIGINT or SIGTERM finishes the image
volatile std::sig_atomic_t finish = 0;

extern "C" void note_signal(int signal) {
  if (finishing != 0 && finish == 0 && (signal == SIGINT || signal == SIGTERM))
    finish = signal;
  else
    arrived = signal;
}

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

void finish_on_first_signal() {
  finishing = 1;
  for (int signal : {SIGINT, SIGTERM}) {
    struct sigaction action {};
    if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler != note_signal) continue;
    action.sa_flags &= ~SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}

int finish_signal() { return finish; }

}  // namespace scan
