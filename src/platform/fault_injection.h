// The file services' side of the test faults (see plat::testing::FailNth). Each service
// asks at its start whether this call is to fail; nothing is armed outside tests, and then
// the question costs one relaxed load.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/testing.h"

namespace plat::fault {

extern std::atomic<bool> g_armed;

// True when the call fails; the last error is then set.
bool FailSlow(testing::FileOp op);

inline bool Fail(testing::FileOp op) {
  if (!g_armed.load(std::memory_order_relaxed)) return false;
  return FailSlow(op);
}

}  // namespace plat::fault
