// Hooks that let tests set up the machine state the Windows services read. Each host
// implements them its own way; a hook a host cannot honour returns false so the test can
// say why it skips.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plat::testing {

// Points the posix stand-in at a fresh scratch root (drives, known folders, registry,
// temporary folder all inside it). On Windows the real system stays; returns false.
bool UseScratchRoot();
// The host folder that holds the scratch root, or empty on Windows.
std::string ScratchRootHostPath();

// True when the Windows build runs under Wine, which differs from Windows where its host
// lets it (a root user's files are never read-only, say).
bool UnderWine();

// Selects the ANSI code page (1252 or 936) on the stand-in; false on Windows, whose code
// page belongs to the system.
bool SetAnsiCodePage(uint32_t code_page);

// Writes or removes a REG_DWORD (or, with `as_string`, a REG_SZ holding the decimal text)
// under HKEY_LOCAL_MACHINE\subkey.
bool WriteRegistryValue(std::u16string_view subkey, std::u16string_view value, uint32_t data, bool as_string = false);
bool DeleteRegistryKey(std::u16string_view subkey);

}  // namespace plat::testing

namespace plat::testing {

// Faults a test can make the file services give, to show that a writer loses nothing when
// the machine misbehaves. The kinds are counted separately; opening an existing file only
// to read it counts as none of them.
enum class FileOp : uint32_t {
  kWrite,   // WriteFile
  kCreate,  // OpenFile with a disposition that may create, GetTempFileName that makes one
  kMove,    // MoveFile
  kRead,    // ReadFile
  kCopy,    // CopyFile
  kDelete,  // DeleteFile
};
inline constexpr uint32_t kFileOpKinds = 6;

// The n-th call of that kind from now on (1 = the next one) fails with `win32_error` as
// the last error, without touching the disk. Arming a kind again replaces its fault.
void FailNth(FileOp op, uint32_t n, uint32_t win32_error);
// The first `count` calls of that kind fail with `win32_error`; the ones after succeed.
void FailFirst(FileOp op, uint32_t count, uint32_t win32_error);
// Calls `first` to `first + count - 1` of that kind fail (count UINT32_MAX: all from
// `first` on), for a fault at one step of a longer operation that persists.
void FailCalls(FileOp op, uint32_t first, uint32_t count, uint32_t win32_error);
void ClearFaults();
// How many calls of that kind were made since the kind was last armed or cleared: lets a
// sweep over n stop once n passes the calls an operation makes.
uint32_t CallsSinceArmed(FileOp op);

// Clears every fault when it goes, so that a failing assertion cannot leave one armed for
// the next test.
class FaultScope {
 public:
  FaultScope() = default;
  FaultScope(const FaultScope&) = delete;
  FaultScope& operator=(const FaultScope&) = delete;
  ~FaultScope() { ClearFaults(); }
};

// The longest the file retries wait for a file another process holds, in milliseconds;
// tests shorten it. Returns the previous limit.
uint32_t SetFileRetryLimit(uint32_t milliseconds);

}  // namespace plat::testing
