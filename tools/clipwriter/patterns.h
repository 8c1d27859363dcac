// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures for sample clips: things that move across a plain background, so that a
// streak image made from them shows their path clearly.
#pragma once
#include "tools/clipwriter/clip_writer.h"

namespace clipwriter {

// A ball crossing the frame from left to right over `frames` frames.
Painter ball_pattern(int width, int height, int frames);

// A pendulum hanging from the top centre, swinging a few times over `frames` frames.
Painter pendulum_pattern(int width, int height, int frames);

// A bar turning about the frame's centre, one end red and one blue, a few turns over
// `frames` frames.
Painter rotor_pattern(int width, int height, int frames);

}  // namespace clipwriter
