// Holds a file open without sharing, as a virus scanner holds a fresh EXE: file_holder
// FILE SIGNAL MILLISECONDS opens FILE, creates SIGNAL once it holds it, and lets go after
// MILLISECONDS (0: never; the test ends it).
#include <windows.h>
// After windows.h, whose declarations it needs.
#include <shellapi.h>

#include <cwchar>

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 4) return 2;
  HANDLE held = ::CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 3;
  HANDLE signal = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (signal == INVALID_HANDLE_VALUE) return 4;
  ::CloseHandle(signal);
  const unsigned long milliseconds = std::wcstoul(argv[3], nullptr, 10);
  ::Sleep(milliseconds == 0 ? INFINITE : milliseconds);
  ::CloseHandle(held);
  return 0;
}
