// SPDX-License-Identifier: GPL-3.0-or-later
// Peak memory of a fresh process that opens a clip and steps back through all of it.
#pragma once
#include <string>

namespace bench {

// When argv asks for a probe, runs it, prints the peak and returns true (main then ends).
bool run_probe_if_asked(int argc, char** argv);

// Runs the probe in a child process of this program; peak resident memory in MB, or -1.
double probe_peak_mb(const std::string& clip_path, int out_width, int out_height);

}  // namespace bench
