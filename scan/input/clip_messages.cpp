// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/input/clip_messages.h"

namespace scan {
namespace {

// FFmpeg's own words at the end of a detail such as "cannot open x.avi: Permission denied".
std::string last_words(const std::string& detail) {
  auto colon = detail.rfind(": ");
  return colon == std::string::npos ? detail : detail.substr(colon + 2);
}

}  // namespace

std::string describe_failure(const decode::OpenFailure& failure) {
  using decode::OpenProblem;
  const std::string& detail = failure.detail;
  switch (failure.problem) {
    case OpenProblem::missing:
      return "no such file";
    case OpenProblem::folder:
      return "is a folder, not a clip";
    case OpenProblem::not_regular:
      return "is not a regular file";
    case OpenProblem::empty:
      return "is empty";
    case OpenProblem::unreadable:
      return "cannot be read (" + last_words(detail) + ")";
    case OpenProblem::not_media:
      return "not a video file that libavformat reads (" + last_words(detail) + ")";
    case OpenProblem::no_video:
      return "holds no video stream";
    case OpenProblem::no_decoder:
      return detail;
    case OpenProblem::bad_size:
      return detail;
    case OpenProblem::damaged_timing:
      return detail;
    case OpenProblem::no_picture:
      return "none of its frames decodes";
    case OpenProblem::out_of_memory:
      return "not enough memory to open it";
    case OpenProblem::stopped:
      return "interrupted";
    case OpenProblem::bad_option:
      return "does not take the option " + detail;
    case OpenProblem::timed_out:
      return "gave no data in time (" + last_words(detail) + ")";
  }
  return detail;
}

}  // namespace scan
