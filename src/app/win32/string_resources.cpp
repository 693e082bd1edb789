// The program's own strings come from its string table resource (strings.rc).
#include <windows.h>

#include <string>

#include "app/res_string.h"

namespace app {

std::u16string LoadStringResource(uint32_t id, size_t max_chars) {
  const wchar_t* text = nullptr;
  // With a zero buffer size LoadStringW hands out a pointer into the resource itself.
  const int length = ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return {};
  const size_t count = std::min(static_cast<size_t>(length), max_chars);
  return std::u16string(reinterpret_cast<const char16_t*>(text), count);
}

}  // namespace app
