#include "app/win32/message_box_display.h"

#include <windows.h>

#include <string>

namespace app {

int SystemMessageBoxDisplay::Show(const MessageRequest& request) {
  std::u16string text = request.text;
  if (!request.second_text.empty()) text += u"\r\n\r\n" + request.second_text;
  const std::u16string caption = request.caption.empty() ? std::u16string(u"Brankel") : request.caption;
  return ::MessageBoxW(static_cast<HWND>(request.owner), reinterpret_cast<const wchar_t*>(text.c_str()),
                       reinterpret_cast<const wchar_t*>(caption.c_str()), request.type);
}

}  // namespace app
