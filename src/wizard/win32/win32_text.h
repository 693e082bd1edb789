// Small helpers of the wizard's windows: texts of controls as UTF-16 strings.
#pragma once

#include <windows.h>

#include <string>

namespace wizard::win32 {

inline const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

inline std::u16string ItemText(HWND dialog, int id) {
  HWND item = ::GetDlgItem(dialog, id);
  const int length = item != nullptr ? ::GetWindowTextLengthW(item) : 0;
  std::u16string text(static_cast<size_t>(length > 0 ? length : 0) + 1, u'\0');
  const int got = item != nullptr ? ::GetWindowTextW(item, reinterpret_cast<wchar_t*>(text.data()), length + 1) : 0;
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

inline void SetItemText(HWND dialog, int id, const std::u16string& text) { ::SetDlgItemTextW(dialog, id, W(text)); }

}  // namespace wizard::win32
