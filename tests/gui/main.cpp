// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the window tests inside one QApplication (offscreen unless told otherwise).
#include <gtest/gtest.h>

#include <QApplication>

#include "decode/av_error.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // As the programs' own mains: broken clips are told by their statuses, not FFmpeg's log.
  decode::set_ffmpeg_log(decode::FfmpegLog::fatal_only);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
