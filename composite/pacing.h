// SPDX-License-Identifier: GPL-3.0-or-later
// Frame steps paced by the millisecond tick count: at most one step per 300 ms slot.
#pragma once
#include <cstdint>
#include <functional>

namespace composite {

inline constexpr int32_t kSlotMilliseconds = 300;

// The slot a tick count falls in: ticks / 300 rounded to the nearest whole number,
// halves to the even one.
int32_t slot_of(int32_t ticks);

// Runs `step` `times` times (not at all for 0 or less); after each, waits until the tick
// count has left the slot it was in just before that step. The wait does not return to
// the event loop; it naps at most a millisecond between two reads of the tick count.
void paced_steps(int times, const std::function<void()>& step);

}  // namespace composite
