// SPDX-License-Identifier: GPL-3.0-or-later
// The millisecond tick count: a steady clock that tests can replace.
#pragma once
#include <cstdint>
#include <functional>

namespace service {

// Milliseconds of a steady clock, wrapped to 32 bits like the system tick count.
int32_t tick_count();

// Replaces the clock (tests script it); an empty function restores the steady clock.
void set_tick_source(std::function<int32_t()> source);

}  // namespace service
