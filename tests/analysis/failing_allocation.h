// Running out of memory on demand: one chosen allocation made through operator new throws
// std::bad_alloc, as it would when the heap is exhausted, so that tests can walk every
// allocation of an operation and see that each failure comes back as a message.
#pragma once

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

}  // namespace brankel_test
