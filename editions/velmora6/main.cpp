// SPDX-License-Identifier: GPL-3.0-or-later
// The auto-advance edition: strips follow one another by themselves.
#include "decode/av_error.h"
#include "editions/layouts.h"
#include "editions/program.h"
#include "editions/velmora6_edition.h"

int main(int argc, char** argv) {
  // Damaged clips are answered with a status and its description; FFmpeg's own chatter
  // about them would only clutter the terminal the program was started from.
  decode::set_ffmpeg_log(decode::FfmpegLog::fatal_only);
  return editions::run_program(argc, argv, editions::velmora6_layout, editions::velmora6_handlers);
}
