// SPDX-License-Identifier: GPL-3.0-or-later
// The manual-advance edition: one strip per press, from the frame the clip stands on.
#include "decode/av_error.h"
#include "editions/layouts.h"
#include "editions/program.h"
#include "editions/velmora3_edition.h"

int main(int argc, char** argv) {
  // Damaged clips are answered with a status and its description; FFmpeg's own chatter
  // about them would only clutter the terminal the program was started from.
  decode::set_ffmpeg_log(decode::FfmpegLog::fatal_only);
  return editions::run_program(argc, argv, editions::velmora3_layout, editions::velmora3_handlers);
}
