// SPDX-License-Identifier: GPL-3.0-or-later
// Holds the stop signals (SIGINT, SIGTERM, SIGHUP, SIGQUIT) on this thread while an object
// lives. A codec opened inside one starts its worker threads with them held, so they never
// take a stop signal: it always reaches the thread that reads the input, whose blocking read
// of a pipe must be cut short by it.
#pragma once
#include <pthread.h>

#include <csignal>

namespace base {

class StopSignalsHeld {
 public:
  StopSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &before_);
  }
  ~StopSignalsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  StopSignalsHeld(const StopSignalsHeld&) = delete;
  StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

 private:
  sigset_t before_;
};

}  // namespace base
