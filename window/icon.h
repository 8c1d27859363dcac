// SPDX-License-Identifier: GPL-3.0-or-later
// The window icon, drawn in code: 32 x 32 pixels in the 16 standard colours.
#pragma once
#include <QImage>

namespace window {

// Six black strings hang from the top of an olive field, each ending in a red square;
// the squares trace an arch, highest in the middle and lowest at the right.
QImage app_icon_image();

// The icon at `size` x `size` pixels for desktops, every pixel taken whole from the
// nearest one of the 32 x 32 image so that it stays crisp at any size.
QImage app_icon_at(int size);

}  // namespace window
