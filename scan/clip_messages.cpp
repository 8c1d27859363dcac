#include "scan/clip_messages.h"

namespace scan {
namespace {

// FFmpeg's own words at the end of a detail such as "cannot open x.avi: Permission denied".
std::string last_words(const std::string& detail) {
  auto colon = detail.rfind(": ");
  return colon == std::string::npos ? detail : detail.substr(colon + 2);
}

}  // namespace

std::string describe_failure(host::ScanFailure failure, const std::string& detail) {
  using host::ScanFailure;
  switch (failure) {
    case ScanFailure::none:
      return {};
    case ScanFailure::missing:
      return "no such file";
    case ScanFailure::folder:
      return "is a folder, not a clip";
    case ScanFailure::not_regular:
      return "is not a regular file";
    case ScanFailure::empty:
      return "is empty";
    case ScanFailure::unreadable:
      return "cannot be read (" + last_words(detail) + ")";
    case ScanFailure::not_media:
      return "not a video file that libavformat reads (" + last_words(detail) + ")";
    case ScanFailure::no_video:
      return "holds no video stream";
    case ScanFailure::no_decoder:
      return detail;
    case ScanFailure::bad_size:
      return detail;
    case ScanFailure::damaged_timing:
      return detail;
    case ScanFailure::no_picture:
      return "none of its frames decodes";
    case ScanFailure::out_of_memory:
      return "not enough memory to open it";
    case ScanFailure::stopped:
      return "interrupted";
  }
  return detail;
}

}  // namespace scan
