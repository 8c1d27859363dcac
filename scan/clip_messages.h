// Why a clip could not be opened, in velmora-scan's words.
#pragma once
#include <string>

#include "host/scan_clip.h"

namespace scan {

// The reason, without the file's name: "no such file", "holds no video stream", ...
std::string describe_failure(host::ScanFailure failure, const std::string& detail);

}  // namespace scan
