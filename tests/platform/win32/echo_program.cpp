// The program the RunProgram tests start: echo_program CODE [ARGS...] writes each
// argument as "[ARG]" on a line of its own in UTF-8, then "err" to its standard error,
// then copies its standard input to its output, and ends with exit code CODE.
#include <windows.h>
// After windows.h, whose declarations it needs.
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

void Write(HANDLE to, const std::string& bytes) {
  DWORD done = 0;
  ::WriteFile(to, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
}

std::string Utf8(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? static_cast<size_t>(size) : 1, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 2) return 100;
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  for (int i = 2; i < argc; ++i) {
    std::string line(1, '[');
    line.append(Utf8(argv[i])).append("]\n");
    Write(out, line);
  }
  Write(::GetStdHandle(STD_ERROR_HANDLE), "err\n");
  char buffer[4096];
  DWORD done = 0;
  while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &done, nullptr) && done > 0) {
    Write(out, std::string(buffer, done));
  }
  return static_cast<int>(std::wcstoul(argv[1], nullptr, 10));
}
