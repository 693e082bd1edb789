// Test hooks on Windows: the machine is the real one, so only the registry can be set up.
// Writing under HKEY_LOCAL_MACHINE needs an elevated process on a real system; under a
// compatibility layer it always works.

#include "platform/win32/win32_common.h"

#include <string>

#include "platform/testing.h"

namespace plat::testing {

bool UseScratchRoot() { return false; }

std::string ScratchRootHostPath() { return {}; }

bool SetAnsiCodePage(uint32_t /*code_page*/) { return false; }

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

namespace {

// An empty name would mean HKEY_LOCAL_MACHINE itself, which no test may write or clear.
bool IsRootName(std::u16string_view subkey) { return subkey.find_first_not_of(u'\\') == std::u16string_view::npos; }

bool Succeeded(LONG status) {
  if (status == ERROR_SUCCESS) return true;
  ::SetLastError(static_cast<DWORD>(status));
  return false;
}

}  // namespace

bool WriteRegistryValue(std::u16string_view subkey, std::u16string_view value, uint32_t data, bool as_string) {
  if (IsRootName(subkey)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  HKEY key = nullptr;
  const std::wstring key_name = win32::Wide(subkey);
  if (!Succeeded(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE, nullptr, &key, nullptr))) {
    return false;
  }
  const std::wstring value_name = win32::Wide(value);
  LONG status;
  if (as_string) {
    const std::wstring text = std::to_wstring(data);
    // The stored size counts the terminator, as REG_SZ readers expect.
    status = ::RegSetValueExW(key, value_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  } else {
    const DWORD number = data;
    status =
        ::RegSetValueExW(key, value_name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  }
  ::RegCloseKey(key);
  return Succeeded(status);
}

bool DeleteRegistryKey(std::u16string_view subkey) {
  if (IsRootName(subkey)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const std::wstring key_name = win32::Wide(subkey);
  const LONG status = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key_name.c_str());
  // Clearing a key that is already gone leaves the machine as the test wants it.
  if (status == ERROR_FILE_NOT_FOUND) return true;
  return Succeeded(status);
}

}  // namespace plat::testing
