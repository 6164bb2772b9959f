// For tests: the failure that a step raises.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "base/failure.h"

/// The failure that `step` raises; fails the test when it raises none.
inline Failure FailureOf(const std::function<void()>& step) {
  try {
    step();
  } catch (const Failure& failure) {
    return failure;
  }
  ADD_FAILURE() << "no failure raised";
  return {};
}
