#include "pe/win32/run_program.h"

#include <windows.h>

namespace brankel_test {
namespace {

// Generous for a program that prints one line, even under Wine's first start.
constexpr DWORD kTimeLimitMs = 60000;
constexpr DWORD kPollMs = 20;

// Moves whatever the pipe holds now into `output`, without blocking on an empty pipe, so
// that a program that never ends cannot hang the test.
void DrainPipe(HANDLE pipe, std::string* output) {
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
    char buffer[4096];
    DWORD got = 0;
    if (!ReadFile(pipe, buffer, available < sizeof(buffer) ? available : sizeof(buffer), &got, nullptr)) return;
    output->append(buffer, got);
  }
}

}  // namespace

bool RunProgram(const std::u16string& exe, std::string* output, unsigned* exit_code) {
  output->clear();
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return false;
  // Only the child's end is passed on; ours must not keep the pipe open after it ends.
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  // The program's own name, quoted, is all of its command line.
  std::wstring command = L"\"" + std::wstring(exe.begin(), exe.end()) + L"\"";
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessW(reinterpret_cast<const wchar_t*>(exe.c_str()), command.data(), nullptr, nullptr,
                                      TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  CloseHandle(write_end);
  if (!started) {
    CloseHandle(read_end);
    return false;
  }
  CloseHandle(process.hThread);

  bool finished = false;
  for (DWORD waited = 0; waited < kTimeLimitMs; waited += kPollMs) {
    DrainPipe(read_end, output);
    if (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_OBJECT_0) {
      finished = true;
      break;
    }
  }
  if (finished) {
    // What it wrote just before ending is still in the pipe.
    DrainPipe(read_end, output);
    DWORD code = 0;
    finished = GetExitCodeProcess(process.hProcess, &code) != 0;
    *exit_code = code;
  } else {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  CloseHandle(process.hProcess);
  CloseHandle(read_end);
  return finished;
}

}  // namespace brankel_test
