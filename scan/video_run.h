// SPDX-License-Identifier: GPL-3.0-or-later
// The run that writes a time-displaced clip: every frame of the input in its own pixel
// format, each pixel from the moment its delay names, encoded as it comes.
#pragma once
#include "scan/scan.h"

namespace scan {

[[nodiscard]] base::Result<void, Error> run_video(const Request& o, Reporter& reporter,
                                                  const Stopping& stopping);

}  // namespace scan
