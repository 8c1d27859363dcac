// SPDX-License-Identifier: GPL-3.0-or-later
// The window's class, for the handlers' headers, which take it only by reference.
#pragma once

namespace window {
class Form1;
}  // namespace window
