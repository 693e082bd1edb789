// Running another program and collecting what it prints.
#include "platform/win32/win32_common.h"

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/lookup_cache.h"

namespace plat {
namespace {

// One argument as the C runtime's command-line parser gives it back: quoted when it is
// empty or holds blanks or quotes, backslashes doubled only before a quote.
void AppendArgument(std::wstring& line, std::u16string_view argument) {
  if (!line.empty()) line += L' ';
  if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string_view::npos) {
    line.append(argument.begin(), argument.end());
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (const char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == u'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += static_cast<wchar_t>(c);
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

struct OwnedHandle {
  HANDLE handle = nullptr;
  ~OwnedHandle() { Close(); }
  void Close() {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
  }
};

}  // namespace

bool RunProgram(std::u16string_view program, const std::vector<std::u16string>& arguments, std::string_view input,
                ProgramRun* run) {
  run->exit_code = 0;
  run->output.clear();
  std::wstring line;
  AppendArgument(line, program);
  for (const std::u16string& argument : arguments) AppendArgument(line, argument);

  // The input must fit the pipe whole: it is written before the output is read.
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  OwnedHandle in_read, in_write, out_read, out_write;
  const DWORD pipe_size = static_cast<DWORD>(input.size() + 4096);
  if (input.size() > (1u << 20) || !CreatePipe(&in_read.handle, &in_write.handle, &inherit, pipe_size) ||
      !CreatePipe(&out_read.handle, &out_write.handle, &inherit, 0) ||
      !SetHandleInformation(in_write.handle, HANDLE_FLAG_INHERIT, 0) ||
      !SetHandleInformation(out_read.handle, HANDLE_FLAG_INHERIT, 0)) {
    if (input.size() > (1u << 20)) SetLastError(err::kInvalidParameter);
    return false;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in_read.handle;
  startup.hStdOutput = out_write.handle;
  startup.hStdError = out_write.handle;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  OwnedHandle process_handle{process.hProcess};
  CloseHandle(process.hThread);
  in_read.Close();
  out_write.Close();

  DWORD done = 0;
  if (!input.empty()) ::WriteFile(in_write.handle, input.data(), static_cast<DWORD>(input.size()), &done, nullptr);
  in_write.Close();
  char buffer[4096];
  while (::ReadFile(out_read.handle, buffer, sizeof buffer, &done, nullptr) && done > 0)
    run->output.append(buffer, done);
  WaitForSingleObject(process_handle.handle, INFINITE);
  DWORD code = 0;
  // What the program did to the disk is not in the listings a batch has read.
  win32::LookupsChanged();
  if (!GetExitCodeProcess(process_handle.handle, &code)) return false;
  run->exit_code = code;
  SetLastError(err::kSuccess);
  return true;
}

std::u16string PathForProgram(std::u16string_view path) { return GetFullPathName(path); }

}  // namespace plat
