// SPDX-License-Identifier: GPL-3.0-or-later
// --roi's files read when a run starts (the command line itself touches no file): each
// becomes its line's points, and its width the --thickness where none was given.
#pragma once
#include <string>

#include "base/result.h"
#include "scan/options.h"

namespace scan {

// The options with every --roi's points in place, or why a file cannot be taken.
[[nodiscard]] base::Result<Options, std::string> with_selections(const Options& o);

}  // namespace scan
