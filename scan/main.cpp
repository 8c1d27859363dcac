// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan: a full-resolution streak image of a clip, written as a PNG.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "decode/av_error.h"
#include "scan/interrupt.h"
#include "scan/options.h"
#include "scan/scan_run.h"
#include "velmora/version.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  scan::Parsed parsed = scan::parse_options(args);
  switch (parsed.action) {
    case scan::Parsed::Action::help:
      std::fputs(scan::help_text(scan::default_threads()).c_str(), stdout);
      return scan::exit_done;
    case scan::Parsed::Action::version:
      std::printf("velmora-scan %s\n", VELMORA_VERSION);
      return scan::exit_done;
    case scan::Parsed::Action::usage_error:
      std::fprintf(stderr, "velmora-scan: %s\n", parsed.error.c_str());
      return scan::exit_usage;
    case scan::Parsed::Action::run:
      break;
  }
  scan::catch_interrupts();
  // Every failure gets velmora-scan's own line; FFmpeg's notes on damaged data would
  // only add noise to a script's log.
  decode::set_ffmpeg_log(decode::FfmpegLog::none);
  return scan::run_scan(parsed.options, stderr, isatty(STDERR_FILENO) != 0);
}
