// The steps both editions take for one strip, after the frame is captured (media::Trans).
#pragma once

namespace window {
class Form1;
}

namespace composite {

// Copies the band of the direction now selected from Picture2 into Picture3 as strip
// number screen_count. True when the strip reached the composite's far edge.
bool copy_band(window::Form1& form);

// screen_count plus one, held at 32767: a band of width 0 never fills the composite.
void count_strip(window::Form1& form);

}  // namespace composite
