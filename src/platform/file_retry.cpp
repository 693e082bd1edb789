#include "platform/file_retry.h"

#include <algorithm>
#include <atomic>

#include "platform/testing.h"

namespace plat {
namespace {

constexpr uint32_t kDefaultLimit = 3000;  // ms: a scan of a large EXE
constexpr uint32_t kFirstWait = 50;

std::atomic<uint32_t> g_limit{kDefaultLimit};

// Calls `attempt` until it succeeds, fails with an error `retryable` refuses, or the
// time is up. The last error is the last attempt's.
template <typename Attempt, typename Retryable>
auto Retrying(Attempt attempt, Retryable retryable) {
  const uint32_t limit = g_limit.load(std::memory_order_relaxed);
  const uint32_t start = GetTickCount();
  uint32_t wait = kFirstWait;
  for (;;) {
    auto result = attempt();
    if (result) return result;
    const uint32_t error = GetLastError();
    // Unsigned difference: the tick count wraps every 49.7 days.
    const uint32_t elapsed = GetTickCount() - start;
    if (!retryable(error) || elapsed >= limit) {
      SetLastError(error);
      return result;
    }
    Sleep(std::min(wait, limit - elapsed));
    wait = std::min<uint32_t>(wait * 2, 800);
    SetLastError(error);
  }
}

}  // namespace

bool MoveFileRetrying(std::u16string_view from, std::u16string_view to, bool replace_existing) {
  const auto existing_target = [&] { return replace_existing && FileExists(to) && !IsDirectory(to); };
  if (Retrying(
          [&] { return MoveFile(from, to, replace_existing); },
          [&](uint32_t error) { return IsFileInUse(error) || (error == err::kAccessDenied && existing_target()); })) {
    return true;
  }
  // A target another process holds open refuses its replacement as access denied, as a
  // read-only one does; an open that shares everything tells the two apart.
  const uint32_t error = GetLastError();
  if (error == err::kAccessDenied && existing_target()) {
    FileHandle probe = OpenFile(to, kGenericRead, kShareRead | kShareWrite | kShareDelete, Disposition::kOpenExisting);
    const bool held = probe == nullptr && IsFileInUse(GetLastError());
    if (probe != nullptr) CloseFile(probe);
    SetLastError(held ? err::kSharingViolation : error);
    return false;
  }
  SetLastError(error);
  return false;
}

bool DeleteFileRetrying(std::u16string_view path) {
  return Retrying([&] { return DeleteFile(path); }, IsFileInUse);
}

FileHandle OpenFileRetrying(std::u16string_view path, uint32_t access, uint32_t share, Disposition disposition) {
  return Retrying([&] { return OpenFile(path, access, share, disposition); }, IsFileInUse);
}

namespace testing {

uint32_t SetFileRetryLimit(uint32_t milliseconds) { return g_limit.exchange(milliseconds); }

}  // namespace testing
}  // namespace plat
