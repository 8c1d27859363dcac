// SPDX-License-Identifier: GPL-3.0-or-later
// Play, pause, the frame steps, rewind, the scroll-bar seek and the position display.
#pragma once
#include <cstdint>

#include "window/form1_fwd.h"

namespace media {

// Fits the video to Picture1's inner area, from its top left corner.
void send_destination(window::Form1& form);
// Trans, for transfer: stops the clip and has the service paint the frame it stands on
// into the capture pane Picture2 ("update avfile hdc N": N is the pane's surface number,
// hdc for the handle of a drawing context).
void Trans(window::Form1& form);

void Command1_Click(window::Form1& form);     // play
void Command2_Click(window::Form1& form);     // pause
void Command3_Click(window::Form1& form);     // one frame forward
void Command4_Click(window::Form1& form);     // one frame back
void Cmd_Reserve_Click(window::Form1& form);  // rewind
// The thumb was dragged to `position`; only drags come here, not arrows or the track.
void HScroll1_Scroll(window::Form1& form, int32_t position);
// Every 100 ms while a clip is open: the frame number into HScroll1 and Label2.
void Timer1_Timer(window::Form1& form);

}  // namespace media
