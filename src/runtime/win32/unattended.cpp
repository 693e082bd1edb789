#include "runtime/win32/unattended.h"

#include <windows.h>

#include "platform/file_io.h"
#include "platform/platform.h"

namespace runtime {

std::optional<std::u16string> EnvironmentText(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  const DWORD got = GetEnvironmentVariableW(name, value.data(), size);
  if (got == 0 || got >= size) return std::nullopt;
  return std::u16string(value.begin(), value.begin() + got);
}

bool AppendUtf8(const std::u16string& path, const std::string& text) {
  plat::FileHandle file =
      plat::OpenFile(path, plat::kGenericWrite, plat::kShareRead | plat::kShareWrite, plat::Disposition::kOpenAlways);
  if (file == nullptr) return false;
  uint64_t end = 0;
  const bool written =
      plat::SeekFile(file, 0, plat::SeekOrigin::kEnd, &end) && plat::WriteExact(file, text.data(), text.size());
  plat::CloseFile(file);
  return written;
}

}  // namespace runtime
