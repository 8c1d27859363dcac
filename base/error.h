// SPDX-License-Identifier: GPL-3.0-or-later
// Why a step failed: the exit status the failure earns, chosen where it is made, and the
// one line that tells it. Every fallible step of velmora-scan hands this on unchanged, or
// with its own context put before the message.
#pragma once
#include <string>
#include <utility>

namespace base {

// velmora-scan's exit statuses; an interrupted run exits with 128 + the signal's number.
enum class ExitStatus : int { done = 0, failed = 1, usage = 2, interrupted = 128 };

// A failure: its status and one line without the program's name.
struct Error {
  ExitStatus status = ExitStatus::failed;
  std::string message;
  int signal = 0;  // what asked an interrupted run to stop, when the caller said
  int exit_code() const {
    return status == ExitStatus::interrupted ? 128 + signal : static_cast<int>(status);
  }
  // The same failure told where it happened ("OUTPUT: ", say): its status kept.
  Error within(const std::string& context) const& { return {status, context + message, signal}; }
  Error within(const std::string& context) && {
    message.insert(0, context);
    return std::move(*this);
  }
};

}  // namespace base
