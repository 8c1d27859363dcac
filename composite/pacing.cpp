// SPDX-License-Identifier: GPL-3.0-or-later
#include "composite/pacing.h"

#include <chrono>
#include <thread>

#include "service/tick.h"

namespace composite {

int32_t slot_of(int32_t ticks) {
  // Floor division keeps negative counts (a wrapped tick count) on the same rule.
  int32_t quotient = ticks / kSlotMilliseconds;
  int32_t remainder = ticks % kSlotMilliseconds;
  if (remainder < 0) {
    remainder += kSlotMilliseconds;
    quotient -= 1;
  }
  const int32_t twice = 2 * remainder;
  if (twice > kSlotMilliseconds || (twice == kSlotMilliseconds && quotient % 2 != 0)) {
    quotient += 1;
  }
  return quotient;
}

void paced_steps(int times, const std::function<void()>& step) {
  // A nap between two reads instead of a spin, on purpose: the window is just as deaf
  // during the wait, each step still lands within a millisecond of its slot (half a
  // millisecond plus the kernel's timer slack), and no core burns for the whole run.
  constexpr auto kNap = std::chrono::microseconds(500);
  for (int i = 0; i < times; ++i) {
    const int32_t slot = slot_of(service::tick_count());
    step();
    while (slot_of(service::tick_count()) == slot) std::this_thread::sleep_for(kNap);
  }
}

}  // namespace composite
