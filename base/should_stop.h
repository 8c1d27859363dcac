// SPDX-License-Identifier: GPL-3.0-or-later
// The one way a long piece of work is asked to give up (a run that was interrupted):
// handed down by the caller, asked now and then, true when it should stop. Empty: never.
#pragma once
#include <functional>

namespace base {

using ShouldStop = std::function<bool()>;

// Whether `stop` asks to stop; an empty one never does.
inline bool asked_to_stop(const ShouldStop& stop) { return stop && stop(); }

}  // namespace base
