// A program that fails: it installs the crash handler from its own folder, says whether
// that worked, and writes through a null pointer two calls deep.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

// The plat:: functions of these names, not the W API's macros.
#undef GetModuleFileName

#include "platform/platform.h"
#include "support/win32/crash_handler.h"

namespace {

// Read at run time, so that the compiler cannot see the write is through null.
volatile uintptr_t g_nowhere = 0;

__attribute__((noinline)) void WriteThrough(uintptr_t address) { *reinterpret_cast<volatile int*>(address) = 1; }

__attribute__((noinline)) void Fail() {
  WriteThrough(g_nowhere);
  std::puts("still running");
}

}  // namespace

int main() {
  const std::u16string path = plat::GetModuleFileName();
  const std::u16string folder = path.substr(0, path.rfind(u'\\') + 1);
  // Without our filter the system's own handling ends the program; it must not wait for
  // someone to answer its report.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  std::printf("installed=%d\n", support::InstallCrashHandler(folder) ? 1 : 0);
  std::fflush(stdout);
  Fail();
  return 0;
}
