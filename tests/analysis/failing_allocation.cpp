#include "analysis/failing_allocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> countdown{0};  // 0: no allocation is chosen
std::atomic<bool> failed{false};

void* Allocate(std::size_t size) {
  if (countdown.load(std::memory_order_relaxed) > 0 && countdown.fetch_sub(1) == 1) {
    failed = true;
    throw std::bad_alloc();
  }
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

}  // namespace

namespace brankel_test {

FailingAllocation::FailingAllocation(long n) {
  failed = false;
  countdown = n;
}

FailingAllocation::~FailingAllocation() { countdown = 0; }

bool FailingAllocation::Failed() const { return failed; }

}  // namespace brankel_test

// The whole program's allocations go through these, so that any of them can be chosen.
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
