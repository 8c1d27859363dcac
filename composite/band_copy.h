// The steps both editions take for one strip: capture the current frame, copy the band.
#pragma once

namespace window {
class Form1;
}

namespace composite {

// "stop avfile", then "update avfile hdc " with the capture pane's handle: the clip's
// current frame is now in Picture2.
void capture_current_frame(window::Form1& form);

// Copies the band of the direction now selected from Picture2 into Picture3 as strip
// number screen_count. True when the strip reached the composite's far edge.
bool copy_band(window::Form1& form);

// screen_count plus one, held at 32767: a band of width 0 never fills the composite.
void count_strip(window::Form1& form);

}  // namespace composite
