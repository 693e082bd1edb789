// Private-profile reads on Windows: the system's own INI reader, so quoting, blanks,
// comments and file look-up are exactly what every other Windows program sees.

#include "platform/win32/win32_common.h"

#include "platform/platform.h"

namespace plat {

uint32_t GetPrivateProfileString(std::u16string_view section, std::u16string_view key, std::u16string_view fallback,
                                 char16_t* buffer, uint32_t size, std::u16string_view file) {
  // Nothing fits, not even the terminator; the system would only fail on it.
  if (size == 0 || buffer == nullptr) return 0;
  const std::wstring section_name = win32::Wide(section);
  const std::wstring key_name = win32::Wide(key);
  const std::wstring fallback_text = win32::Wide(fallback);
  const std::wstring file_name = win32::Wide(file);
  // Always terminated copies, never null: a null section or key would ask for the list
  // of names instead of a value.
  return ::GetPrivateProfileStringW(section_name.c_str(), key_name.c_str(), fallback_text.c_str(),
                                    reinterpret_cast<wchar_t*>(buffer), size, file_name.c_str());
}

uint32_t GetPrivateProfileInt(std::u16string_view section, std::u16string_view key, int32_t fallback,
                              std::u16string_view file) {
  const std::wstring section_name = win32::Wide(section);
  const std::wstring key_name = win32::Wide(key);
  const std::wstring file_name = win32::Wide(file);
  return ::GetPrivateProfileIntW(section_name.c_str(), key_name.c_str(), fallback, file_name.c_str());
}

}  // namespace plat
