#include "scan/interrupt.h"

#include <csignal>

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
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int interrupt_signal() { return arrived; }

}  // namespace scan
