// SPDX-License-Identifier: GPL-3.0-or-later
// One run of velmora-scan, from parsed options to the exit status.
#pragma once
#include <cstdio>

#include "scan/options.h"

namespace scan {

enum ExitStatus { exit_done = 0, exit_failed = 1, exit_usage = 2 };

// Makes the streak image; messages go to `err` ("velmora-scan: <what>: <why>"), progress
// too when `terminal` is set.
int run_scan(const Options& options, std::FILE* err, bool terminal);

// The machine's cores, as --threads defaults to them.
int default_threads();

}  // namespace scan
