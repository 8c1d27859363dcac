// SPDX-License-Identifier: GPL-3.0-or-later
// A writer's result as a test's assertion, so that a failed write says why:
// ASSERT_TRUE(velmora_test::written(clipwriter::write_avi(...))).
#pragma once
#include <gtest/gtest.h>

#include "base/result.h"

namespace velmora_test {

template <class T>
testing::AssertionResult written(const base::Result<T, base::Error>& result) {
  if (result) return testing::AssertionSuccess();
  return testing::AssertionFailure() << result.error().message;
}

}  // namespace velmora_test
