// SPDX-License-Identifier: GPL-3.0-or-later
// The frames-per-strip box's text as the 16-bit count a run advances by.
#pragma once
#include <QString>
#include <cstdint>
#include <optional>

namespace composite {

// A decimal number, blanks around it allowed (full-width digits and blanks too), a fraction
// rounded to the nearest whole number with halves to the even one. Nothing when the text is
// no number or the rounded value lies outside -32768 .. 32767.
std::optional<int16_t> frames_per_strip(const QString& text);

// What the message box says when frames_per_strip() gives nothing.
QString frames_per_strip_message();

}  // namespace composite
