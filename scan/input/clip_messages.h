// SPDX-License-Identifier: GPL-3.0-or-later
// Why a clip could not be opened, in velmora-scan's words.
#pragma once
#include <string>

#include "decode/media_input.h"

namespace scan {

// The reason, without the file's name: "no such file", "holds no video stream", ...
std::string describe_failure(const decode::OpenFailure& failure);

}  // namespace scan
