// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/tick.h"

#include <chrono>

namespace service {
namespace {
std::function<int32_t()>& source() {
  static std::function<int32_t()> replaced;
  return replaced;
}
}  // namespace

int32_t tick_count() {
  if (source()) return source()();
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<int32_t>(static_cast<uint32_t>(ms));
}

void set_tick_source(std::function<int32_t()> s) { source() = std::move(s); }

}  // namespace service
