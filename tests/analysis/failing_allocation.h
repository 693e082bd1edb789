// Running out of memory on demand: one chosen allocation made through operator new throws
// std::bad_alloc, as it would when the heap is exhausted, so that tests can walk every
// allocation of an operation and see that each failure comes back as a message.
#pragma once

#include <gtest/gtest.h>

namespace brankel_test {

// While this object lives, the `n`-th allocation from now (counting from 1) fails once;
// every other allocation succeeds. Allocations of the test framework count too, so keep
// only the operation under test inside its lifetime.
class FailingAllocation {
 public:
  explicit FailingAllocation(long n);
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;
  ~FailingAllocation();

  // Whether the chosen allocation was reached (and failed).
  bool Failed() const;
};

// Runs `operation` (returning bool) once with each of its allocations failing in turn,
// then once with none failing, and returns the number of runs. `prepare()` readies each
// run; `check(failed, result)` judges it afterwards, `failed` telling whether the chosen
// allocation was reached. An exception out of the operation fails the test.
template <typename Prepare, typename Operation, typename Check>
long RunWithEachAllocationFailing(Prepare prepare, Operation operation, Check check) {
  for (long n = 1;; ++n) {
    prepare();
    bool result = false;
    bool failed = false;
    bool threw = false;
    {
      const FailingAllocation failing(n);
      try {
        result = operation();
      } catch (...) {
        threw = true;
      }
      failed = failing.Failed();
    }
    EXPECT_FALSE(threw) << "an exception escaped when allocation " << n << " failed";
    check(failed, result);
    if (!failed) return n;
  }
}

}  // namespace brankel_test
