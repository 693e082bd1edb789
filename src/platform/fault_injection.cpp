#include "platform/fault_injection.h"

#include <array>
#include <mutex>

#include "platform/platform.h"

namespace plat {
namespace fault {

std::atomic<bool> g_armed{false};

namespace {

struct Fault {
  uint32_t first = 0;  // calls numbered from 1 since arming; 0 = none armed
  uint32_t last = 0;
  uint32_t error = 0;
  uint32_t calls = 0;
};

struct Faults {
  std::mutex mutex;
  std::array<Fault, testing::kFileOpKinds> kinds{};
};

Faults& State() {
  static Faults faults;
  return faults;
}

void Arm(testing::FileOp op, uint32_t first, uint32_t last, uint32_t error) {
  Faults& faults = State();
  std::lock_guard lock(faults.mutex);
  const auto index = static_cast<size_t>(op);
  if (index >= faults.kinds.size()) return;
  faults.kinds[index] = Fault{first, last, error, 0};
  // Counting goes on while armed even for kinds with no fault, so the count a sweep reads
  // covers every kind.
  g_armed.store(true, std::memory_order_relaxed);
}

}  // namespace

bool FailSlow(testing::FileOp op) {
  Faults& faults = State();
  uint32_t error = 0;
  {
    std::lock_guard lock(faults.mutex);
    const auto index = static_cast<size_t>(op);
    if (index >= faults.kinds.size()) return false;
    Fault& fault = faults.kinds[index];
    if (fault.calls != UINT32_MAX) ++fault.calls;
    if (fault.first == 0 || fault.calls < fault.first || fault.calls > fault.last) return false;
    error = fault.error;
  }
  SetLastError(error);
  return true;
}

}  // namespace fault

namespace testing {

void FailNth(FileOp op, uint32_t n, uint32_t win32_error) {
  if (n == 0) return;
  fault::Arm(op, n, n, win32_error);
}

void FailFirst(FileOp op, uint32_t count, uint32_t win32_error) {
  if (count == 0) return;
  fault::Arm(op, 1, count, win32_error);
}

void FailCalls(FileOp op, uint32_t first, uint32_t count, uint32_t win32_error) {
  if (first == 0 || count == 0) return;
  const uint32_t last = count - 1 > UINT32_MAX - first ? UINT32_MAX : first + (count - 1);
  fault::Arm(op, first, last, win32_error);
}

void ClearFaults() {
  fault::Faults& faults = fault::State();
  std::lock_guard lock(faults.mutex);
  faults.kinds = {};
  fault::g_armed.store(false, std::memory_order_relaxed);
}

uint32_t CallsSinceArmed(FileOp op) {
  fault::Faults& faults = fault::State();
  std::lock_guard lock(faults.mutex);
  const auto index = static_cast<size_t>(op);
  return index < faults.kinds.size() ? faults.kinds[index].calls : 0;
}

}  // namespace testing
}  // namespace plat
