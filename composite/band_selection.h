// SPDX-License-Identifier: GPL-3.0-or-later
// Picking the cut band with two presses on the visible pick strip.
#pragma once
#include <QString>

#include "window/form1_fwd.h"

namespace composite {

// A press on the x pick strip Picture4 at column `x` (vertical cut).
void Picture4_MouseDown(window::Form1& form, double x);
// A press on the y pick strip Picture5 at row `y` (horizontal cut).
void Picture5_MouseDown(window::Form1& form, double y);

// Shown when the band picked is 2 pixels wide or less.
QString narrow_band_message();

}  // namespace composite
